#include "platform/win32/port_win32.h"

#include "platform/win32/clock_win32.h" // SystemMessage

#include <windows.h>

namespace larkmoor {

namespace {

struct PortLibrary {
    const char* file;
    const char* routine; // takes the port address, returns its byte in the low bits
};
constexpr PortLibrary kLibraries[] = {{"ntport.dll", "Inp"}, {"inpout32.dll", "Inp32"}};

// Each load of a port library runs its start-up again, which may try to install its driver again:
// one that was refused is loaded again only when the library files change (looked at every
// kLookAgainMs), or after this long.
constexpr std::uint32_t kRetryRefusedMs = 60000;

// Calls a library routine with one argument and returns eax. The port libraries document their
// routines as stdcall, but a cdecl one leaves its argument on the stack: the stack pointer is
// kept in esi, which both conventions preserve, and put back after the call, so either is safe.
// A routine without arguments ignores the extra one. x86-64 (the tests' build where the kernel
// runs no 32-bit programs) has one convention, with the argument in a register.
int CallEitherConvention(FARPROC routine, int argument) {
#ifdef __i386__
    int result;
    asm volatile("movl %%esp, %%esi\n\t"
                 "pushl %2\n\t"
                 "call *%1\n\t"
                 "movl %%esi, %%esp"
                 : "=a"(result)
                 : "r"(routine), "r"(argument)
                 : "esi", "ecx", "edx", "memory", "cc");
    return result;
#else
    return reinterpret_cast<int (*)(int)>(reinterpret_cast<void*>(routine))(argument);
#endif
}

class LibraryPort : public Port {
  public:
    LibraryPort(std::vector<std::string> folders, TickCount ticks,
                std::function<std::string()> driverPolicy)
        : folders_(std::move(folders)), ticks_(std::move(ticks)),
          driverPolicy_(std::move(driverPolicy)) {}
    ~LibraryPort() override {
        if (library_)
            FreeLibrary(library_);
    }

    PortReading Inp(std::uint16_t address) override {
        if (!library_ && LookAgain())
            Look();
        if (!library_)
            return {std::nullopt, why_};
        if (address == 0)
            return {std::nullopt, ""};
        return {static_cast<std::uint8_t>(CallEitherConvention(inp_, address) & 0xFF), path_};
    }

  private:
    // True when the library files have changed since the last look, or that look is long past.
    // Unsigned arithmetic: the differences are right across the tick count's wraparound.
    bool LookAgain() {
        const std::uint32_t now = ticks_();
        if (checkedAt_ && now - *checkedAt_ < kLookAgainMs)
            return false;
        checkedAt_ = now;
        std::string files = LibraryFiles(folders_);
        if (lookedAt_ && files == files_ && now - *lookedAt_ < kRetryRefusedMs)
            return false;
        files_ = std::move(files);
        return true;
    }

    // Takes the first library that loads, has its routine and, where it can say so, has its
    // driver open. Only full paths are loaded: never the current directory or PATH.
    void Look() {
        lookedAt_ = ticks_();
        why_.clear();
        std::string places;
        for (const std::string& folder : folders_)
            places += (places.empty() ? "" : " or ") + folder;
        for (const PortLibrary& candidate : kLibraries) {
            for (const std::string& folder : folders_) {
                const std::string path = folder + "\\" + candidate.file;
                if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
                    continue;
                const std::string why = Open(path, candidate.routine);
                if (why.empty())
                    return;
                if (why_.empty())
                    why_ = why; // the reason of the preferred library is the one shown
            }
        }
        if (why_.empty())
            why_ = "No port library: neither ntport.dll nor inpout32.dll is in " + places + ".";
    }

    // Empty when `path` is now the library read through; else why it cannot be used.
    std::string Open(const std::string& path, const char* routine) {
        HMODULE library = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!library)
            return path + " could not be loaded: " + SystemMessage(GetLastError());
        const FARPROC inp = GetProcAddress(library, routine);
        const FARPROC driverOpen = GetProcAddress(library, "IsInpOutDriverOpen");
        std::string why;
        if (!inp) {
            why = path + " has no routine " + routine + ".";
        } else if (driverOpen && !CallEitherConvention(driverOpen, 0)) {
            why = "The port driver of " + path +
                  " is not open.\nSee \"The port library and its driver\" in the README.";
            if (const std::string policy = driverPolicy_ ? driverPolicy_() : ""; !policy.empty())
                why += "\n" + policy;
        }
        if (!why.empty()) {
            FreeLibrary(library);
            return why;
        }
        library_ = library;
        inp_ = inp;
        path_ = path;
        return {};
    }

    std::vector<std::string> folders_;
    TickCount ticks_;
    std::function<std::string()> driverPolicy_;
    std::optional<std::uint32_t> lookedAt_, checkedAt_;
    std::string files_; // as LibraryFiles found them at the last look
    HMODULE library_ = nullptr;
    FARPROC inp_ = nullptr;
    std::string path_;
    std::string why_; // why there is no reading
};

} // namespace

std::unique_ptr<Port> MakeLibraryPort(std::vector<std::string> folders, TickCount ticks,
                                      std::function<std::string()> driverPolicy) {
    return std::make_unique<LibraryPort>(std::move(folders), std::move(ticks),
                                         std::move(driverPolicy));
}

std::string LibraryFiles(const std::vector<std::string>& folders) {
    std::string files;
    for (const PortLibrary& candidate : kLibraries) {
        for (const std::string& folder : folders) {
            const std::string path = folder + "\\" + candidate.file;
            WIN32_FILE_ATTRIBUTE_DATA file;
            if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &file))
                files += path + ' ' + std::to_string(file.nFileSizeLow) + ' ' +
                         std::to_string(file.ftLastWriteTime.dwLowDateTime) + ' ' +
                         std::to_string(file.ftLastWriteTime.dwHighDateTime) + '\n';
        }
    }
    return files;
}

namespace {
// A DWORD value below HKEY_LOCAL_MACHINE; nothing where there is none.
std::optional<std::uint32_t> DwordValue(Registry& registry, const char* key, const char* name) {
    RegistryKey handle = 0;
    if (registry.OpenKey(kHkeyLocalMachine, key, kKeyRead, handle) != kErrorSuccess)
        return std::nullopt;
    unsigned char data[4] = {};
    std::uint32_t type = kRegNone, size = sizeof data;
    const bool read =
        registry.QueryValue(handle, name, type, data, size) == kErrorSuccess && type == kRegDword;
    registry.CloseKey(handle);
    if (!read || size != 4)
        return std::nullopt;
    return data[0] | data[1] << 8 | data[2] << 16 | std::uint32_t{data[3]} << 24;
}
} // namespace

std::string DriverPolicyNote(Registry& registry) {
    const bool integrity = DwordValue(registry,
                                      "SYSTEM\\CurrentControlSet\\Control\\DeviceGuard\\Scenarios\\"
                                      "HypervisorEnforcedCodeIntegrity",
                                      "Enabled") == 1u;
    const bool blocklist = DwordValue(registry, "SYSTEM\\CurrentControlSet\\Control\\CI\\Config",
                                      "VulnerableDriverBlocklistEnable") == 1u;
    if (!integrity && !blocklist)
        return "";
    const std::string which = integrity && blocklist ? "Memory integrity is on and the vulnerable "
                                                       "driver blocklist is enforced"
                              : integrity            ? "Memory integrity is on"
                                          : "The vulnerable driver blocklist is enforced";
    return which + ": Windows refuses many old port drivers. Turn Memory integrity off (Windows "
                   "Security > Device security > Core isolation) and restart the PC, or use a "
                   "port library whose driver Windows accepts. See \"Modern Windows\" in the "
                   "README.";
}

namespace {
// Where Windows keeps the libraries of programs of this program's kind. A 32-bit program on
// 64-bit Windows finds them in SysWOW64 (its reads of System32 are redirected there, so the
// folder is named as it is). GetSystemWow64DirectoryA fails on 32-bit Windows; it is looked up
// at run time so that a kernel32 without it still loads the program.
std::string SystemFolder() {
    char path[MAX_PATH] = {};
    if constexpr (sizeof(void*) == 4) {
        using GetSystemWow64DirectoryFn = UINT(WINAPI*)(LPSTR, UINT);
        const auto wow64Folder =
            reinterpret_cast<GetSystemWow64DirectoryFn>(reinterpret_cast<void*>(
                GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemWow64DirectoryA")));
        const UINT length = wow64Folder ? wow64Folder(path, MAX_PATH) : 0;
        if (length > 0 && length < MAX_PATH)
            return {path, length};
    }
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(path, length) : "";
}
} // namespace

std::string OwnProgram() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(path, length) : "";
}

std::vector<std::string> PortLibraryFolders(const std::string& program) {
    std::vector<std::string> folders;
    if (!program.empty())
        folders.push_back(program.substr(0, program.find_last_of('\\')));
    if (std::string system = SystemFolder(); !system.empty())
        folders.push_back(std::move(system));
    return folders;
}

} // namespace larkmoor
