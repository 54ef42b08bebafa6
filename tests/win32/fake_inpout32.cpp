// A stand-in port library that leaves junk in the high byte: only the low byte is the reading.
extern "C" __declspec(dllexport) short __stdcall Inp32(short port) {
    return static_cast<short>(port == 0x379 ? 0x537F : 0x5300);
}
