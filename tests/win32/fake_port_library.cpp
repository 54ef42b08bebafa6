// A stand-in port library, built in several kinds (CMakeLists.txt): the routine's name and calling
// convention, what its driver check says, if it has one, and what it reads, if fixed. A read gives
// the address's bits 0x77 with junk in the high byte, so 0x379 reads as a closed contact and a test
// sees the address.
extern "C" __declspec(dllexport) short CONVENTION ROUTINE(short port) {
#ifdef READS
    return static_cast<short>(READS + 0 * port);
#else
    return static_cast<short>(0x5300 | (port & 0x77));
#endif
}
#ifdef DRIVER_OPEN
extern "C" __declspec(dllexport) int __stdcall IsInpOutDriverOpen() {
    return DRIVER_OPEN;
}
#endif
