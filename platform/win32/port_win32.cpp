#include "platform/win32/port_win32.h"

#include "platform/win32/clock_win32.h" // SystemMessage

#include <windows.h>

#include <cfgmgr32.h>
#include <devguid.h>
#include <initguid.h> // the GUIDs below (Ports class, WMI locator) defined here, not only declared
#include <setupapi.h>
#include <wbemidl.h>

#include <cstdio>
#include <cstdlib>

namespace larkmoor {

namespace {

constexpr std::uint32_t kLookAgainMs = 5000;

struct PortLibrary {
    const char* file;
    const char* routine; // takes the port address, returns its byte in the low bits
};
constexpr PortLibrary kLibraries[] = {{"ntport.dll", "Inp"}, {"inpout32.dll", "Inp32"}};

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

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
    LibraryPort(std::vector<std::string> folders, std::unique_ptr<ParallelPorts> ports,
                TickCount ticks)
        : folders_(std::move(folders)), ports_(std::move(ports)), ticks_(std::move(ticks)) {}
    ~LibraryPort() override {
        if (library_)
            FreeLibrary(library_);
    }

    PortReading Inp(std::uint16_t address) override {
        // Unsigned arithmetic: the difference is right across the tick count's wraparound.
        if (!library_ && (!lookedAt_ || ticks_() - *lookedAt_ >= kLookAgainMs))
            Look();
        if (!library_)
            return {std::nullopt, why_};
        const std::uint16_t read = address == kStatusPort ? status_ : address;
        return {static_cast<std::uint8_t>(CallEitherConvention(inp_, read) & 0xFF), note_};
    }

  private:
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
        if (!inp)
            why = path + " has no routine " + routine + ".";
        else if (driverOpen && !CallEitherConvention(driverOpen, 0))
            why = "The port driver of " + path +
                  " is not open.\nSee \"The port library and its driver\" in the README.";
        if (!why.empty()) {
            FreeLibrary(library);
            return why;
        }
        library_ = library;
        inp_ = inp;
        const StatusRegister status = ChooseStatusRegister(ports_->List());
        status_ = status.address;
        note_ = "Reading " + Hex(status_) + " (" + status.which + ") through " + path + ".";
        return {};
    }

    std::vector<std::string> folders_;
    std::unique_ptr<ParallelPorts> ports_;
    TickCount ticks_;
    std::optional<std::uint32_t> lookedAt_;
    HMODULE library_ = nullptr;
    FARPROC inp_ = nullptr;
    std::uint16_t status_ = kStatusPort;
    std::string note_; // what a reading says: which address, through which library
    std::string why_;  // why there is no reading
};

// The first I/O range that Windows gave the device, or boot configuration where none is given.
// Nothing where it cannot be read: on 64-bit Windows 8 and later a 32-bit program is refused it.
std::optional<std::uint16_t> IoBase(DEVINST device) {
    LOG_CONF config = 0;
    if (CM_Get_First_Log_Conf(&config, device, ALLOC_LOG_CONF) != CR_SUCCESS &&
        CM_Get_First_Log_Conf(&config, device, BOOT_LOG_CONF) != CR_SUCCESS)
        return std::nullopt;
    std::optional<std::uint16_t> base;
    RES_DES range = 0;
    if (CM_Get_Next_Res_Des(&range, config, ResType_IO, nullptr, 0) == CR_SUCCESS) {
        ULONG size = 0;
        if (CM_Get_Res_Des_Data_Size(&size, range, 0) == CR_SUCCESS && size >= sizeof(IO_DES)) {
            std::vector<char> data(size);
            if (CM_Get_Res_Des_Data(range, data.data(), size, 0) == CR_SUCCESS)
                base = static_cast<std::uint16_t>(
                    reinterpret_cast<const IO_DES*>(data.data())->IOD_Alloc_Base);
        }
        CM_Free_Res_Des_Handle(range);
    }
    CM_Free_Log_Conf_Handle(config);
    return base;
}

// One reference to a COM object, released at the end of its scope.
template <class Interface> struct ComRef {
    Interface* p = nullptr;
    ~ComRef() {
        if (p)
            p->Release();
    }
    Interface* operator->() const { return p; }
};

// A BSTR of an ASCII text, freed at the end of its scope.
struct Bstr {
    explicit Bstr(const std::string& text) : b(SysAllocStringLen(nullptr, text.size())) {
        if (b)
            std::copy(text.begin(), text.end(), b);
    }
    ~Bstr() { SysFreeString(b); }
    BSTR b;
};

} // namespace

// The first I/O range that WMI gives for the device `instanceId`. WMI's providers run natively,
// so this reads what a 32-bit program on 64-bit Windows 8 and later may not read itself.
std::optional<std::uint16_t> WmiIoBase(const std::string& instanceId) {
    // Multithreaded, so that waiting for WMI dispatches no window message: a single-threaded
    // apartment would run timer ticks, and so the watcher, inside this call.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(com))
        return std::nullopt;
    std::optional<std::uint16_t> base;
    {
        std::string path; // an object path: backslashes and quotes escaped
        for (char c : instanceId)
            path += c == '\\' || c == '"' ? std::string{'\\', c} : std::string{c};
        const Bstr space("ROOT\\CIMV2"), language("WQL"),
            query("ASSOCIATORS OF {Win32_PnPEntity.DeviceID=\"" + path +
                  "\"} WHERE ResultClass = Win32_PortResource");
        const auto impersonate = [](IUnknown* proxy) {
            return SUCCEEDED(CoSetProxyBlanket(proxy, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                               RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE,
                                               nullptr, EOAC_NONE));
        };
        ComRef<IWbemLocator> locator;
        ComRef<IWbemServices> services;
        ComRef<IEnumWbemClassObject> rows;
        ComRef<IWbemClassObject> row;
        ULONG count = 0;
        VARIANT start{};
        // StartingAddress is a uint64, which WMI hands over as a decimal text.
        if (SUCCEEDED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IWbemLocator, reinterpret_cast<void**>(&locator.p))) &&
            SUCCEEDED(locator->ConnectServer(space.b, nullptr, nullptr, nullptr, 0, nullptr,
                                             nullptr, &services.p)) &&
            impersonate(services.p) &&
            SUCCEEDED(services->ExecQuery(language.b, query.b, WBEM_FLAG_FORWARD_ONLY, nullptr,
                                          &rows.p)) &&
            impersonate(rows.p) && rows->Next(5000, 1, &row.p, &count) == WBEM_S_NO_ERROR &&
            count == 1 && SUCCEEDED(row->Get(L"StartingAddress", 0, &start, nullptr, nullptr)) &&
            start.vt == VT_BSTR && start.bstrVal)
            base = static_cast<std::uint16_t>(std::wcstoul(start.bstrVal, nullptr, 10));
        VariantClear(&start);
    }
    CoUninitialize();
    return base;
}

namespace {

// The device's instance ID (such as "PCI\VEN_1C00&DEV_3050&..."), which WMI names it by.
std::string InstanceId(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    char id[MAX_DEVICE_ID_LEN + 1] = {};
    return SetupDiGetDeviceInstanceIdA(devices, &device, id, sizeof id, nullptr) ? id : "";
}

// The Ports class holds serial and parallel ports; a parallel one's "PortName" is LPTn. Nothing
// when parallel ports are listed but the I/O range of none of them can be read.
class SetupApiParallelPorts : public ParallelPorts {
  public:
    std::optional<std::vector<ParallelPort>> List() override {
        HDEVINFO devices =
            SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
        if (devices == INVALID_HANDLE_VALUE)
            return std::nullopt;
        std::vector<ParallelPort> ports;
        bool listed = false;
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
            HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                            KEY_QUERY_VALUE);
            if (key == INVALID_HANDLE_VALUE)
                continue;
            char name[16] = {};
            DWORD size = sizeof name - 1, type = 0;
            const bool named =
                RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name),
                                 &size) == ERROR_SUCCESS &&
                type == REG_SZ;
            RegCloseKey(key);
            if (!named || std::string(name).rfind("LPT", 0) != 0)
                continue;
            listed = true;
            auto base = IoBase(device.DevInst);
            if (!base)
                base = WmiIoBase(InstanceId(devices, device));
            if (base)
                ports.push_back({name, *base});
        }
        SetupDiDestroyDeviceInfoList(devices);
        if (listed && ports.empty())
            return std::nullopt;
        return ports;
    }
};

int PortNumber(const std::string& name) {
    return name.size() > 3 ? std::atoi(name.c_str() + 3) : 0;
}

} // namespace

StatusRegister ChooseStatusRegister(const std::optional<std::vector<ParallelPort>>& ports) {
    if (!ports)
        return {kStatusPort, "Windows could not list the parallel ports"};
    const ParallelPort* first = nullptr;
    for (const ParallelPort& port : *ports) {
        if (port.base == kStatusPort - 1)
            return {kStatusPort, port.name + " at 0x378"};
        if (!first || PortNumber(port.name) < PortNumber(first->name))
            first = &port;
    }
    if (!first)
        return {kStatusPort, "Windows lists no parallel port"};
    return {static_cast<std::uint16_t>(first->base + 1), first->name + " at " + Hex(first->base)};
}

std::unique_ptr<ParallelPorts> MakeSystemParallelPorts() {
    return std::make_unique<SetupApiParallelPorts>();
}

std::unique_ptr<Port> MakeLibraryPort(std::vector<std::string> folders,
                                      std::unique_ptr<ParallelPorts> ports, TickCount ticks) {
    return std::make_unique<LibraryPort>(std::move(folders), std::move(ports), std::move(ticks));
}

std::vector<std::string> PortLibraryFolders() {
    std::vector<std::string> folders;
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        std::string program(path, length);
        folders.push_back(program.substr(0, program.find_last_of('\\')));
    }
    const UINT system = GetSystemDirectoryA(path, MAX_PATH);
    if (system > 0 && system < MAX_PATH)
        folders.emplace_back(path, system);
    return folders;
}

std::unique_ptr<Port> MakeSystemPort() {
    return MakeLibraryPort(PortLibraryFolders(), MakeSystemParallelPorts(),
                           [] { return static_cast<std::uint32_t>(GetTickCount()); });
}

} // namespace larkmoor
