// The bench's port library, loaded by the port host: every read gives the status the bench's
// contact thread has set, from a page the bench shares by name.
#include <windows.h>

namespace {
const volatile LONG* Contact() {
    static const volatile LONG* status = [] {
        HANDLE page = OpenFileMappingA(FILE_MAP_READ, FALSE, "LarkmoorBenchContact");
        return page ? static_cast<const volatile LONG*>(MapViewOfFile(page, FILE_MAP_READ, 0, 0, 0))
                    : nullptr;
    }();
    return status;
}
} // namespace

extern "C" __declspec(dllexport) short __stdcall Inp(short) {
    const volatile LONG* status = Contact();
    return static_cast<short>(status ? *status : 0xFF);
}
