// A stand-in port library, built in several kinds (CMakeLists.txt): the routine's name and calling
// convention, and what its driver check says, if it has one. A read gives the address's bits 0x77
// with junk in the high byte, so 0x379 reads as a closed contact and a test sees the address.
extern "C" __declspec(dllexport) short CONVENTION ROUTINE(short port) {
    return static_cast<short>(0x5300 | (port & 0x77));
}
#ifdef DRIVER_OPEN
extern "C" __declspec(dllexport) int __stdcall IsInpOutDriverOpen() {
    return DRIVER_OPEN;
}
#endif
