#include "platform/port.h"

#include <windows.h>

namespace larkmoor {

namespace {
// Port libraries export a stdcall routine that takes the port address and returns its byte.
using InpRoutine = int(__stdcall*)(int);

// Searches only the program's own folder and the system folder, never the current directory.
HMODULE LoadPortLibrary(const char* name) {
    return LoadLibraryExA(name, nullptr,
                          LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

class PortLibrary : public Port {
  public:
    PortLibrary() {
        if (!Load("ntport.dll", "Inp"))
            Load("inpout32.dll", "Inp32");
    }
    ~PortLibrary() override {
        if (library_)
            FreeLibrary(library_);
    }
    PortReading Inp(std::uint16_t address) override {
        if (!inp_)
            return {std::nullopt, "No port library: neither ntport.dll nor inpout32.dll could be "
                                  "loaded from the program's folder or the system folder."};
        return {static_cast<std::uint8_t>(inp_(address) & 0xFF),
                "Reading the port through a port library."};
    }

  private:
    bool Load(const char* library, const char* routine) {
        library_ = LoadPortLibrary(library);
        if (!library_)
            return false;
        inp_ = reinterpret_cast<InpRoutine>(
            reinterpret_cast<void*>(GetProcAddress(library_, routine)));
        if (inp_)
            return true;
        FreeLibrary(library_);
        library_ = nullptr;
        return false;
    }

    HMODULE library_ = nullptr;
    InpRoutine inp_ = nullptr;
};
} // namespace

std::unique_ptr<Port> MakeSystemPort() {
    return std::make_unique<PortLibrary>();
}

} // namespace larkmoor
