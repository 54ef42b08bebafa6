#include "platform/win32/port_discovery_win32.h"

#include "platform/win32/handles_win32.h"
#include "platform/worker.h"

#include <cfgmgr32.h>
#include <devguid.h>
#include <initguid.h> // the GUIDs below (Ports class, WMI locator) defined here, not only declared
#include <setupapi.h>
#include <wbemidl.h>

#include <cstdio>
#include <cstdlib>

namespace larkmoor {

namespace {

// How long WMI may take to hand over one I/O range before the port counts as unlisted.
constexpr long kWmiRowWaitMs = 5000;

// The device's I/O ranges as Windows gave them, or as the firmware set them up where none are
// given. Nothing where they cannot be read: on 64-bit Windows 8 and later a 32-bit program is
// refused them.
std::vector<IoRange> IoRanges(DEVINST device) {
    std::vector<IoRange> ranges;
    LOG_CONF first = 0;
    if (CM_Get_First_Log_Conf(&first, device, ALLOC_LOG_CONF) != CR_SUCCESS &&
        CM_Get_First_Log_Conf(&first, device, BOOT_LOG_CONF) != CR_SUCCESS)
        return ranges;
    const LogConf config(first);
    ResDes previous;
    RES_DES range = 0;
    while (CM_Get_Next_Res_Des(&range, previous ? previous.Get() : config.Get(), ResType_IO,
                               nullptr, 0) == CR_SUCCESS) {
        previous.Reset(range);
        ULONG size = 0;
        if (CM_Get_Res_Des_Data_Size(&size, range, 0) != CR_SUCCESS || size < sizeof(IO_DES))
            continue;
        std::vector<char> data(size); // the range's header, then any alternatives
        if (CM_Get_Res_Des_Data(range, data.data(), size, 0) == CR_SUCCESS) {
            const auto* io = reinterpret_cast<const IO_DES*>(data.data());
            ranges.push_back({io->IOD_Alloc_Base, io->IOD_Alloc_End});
        }
    }
    return ranges;
}

bool Impersonate(IUnknown* proxy) {
    return SUCCEEDED(CoSetProxyBlanket(proxy, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                       RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                                       EOAC_NONE));
}

// A uint64 property, which WMI hands over as a decimal text.
std::uint64_t Uint64Property(IWbemClassObject* row, const wchar_t* name) {
    VARIANT value{};
    std::uint64_t number = 0;
    if (SUCCEEDED(row->Get(name, 0, &value, nullptr, nullptr)) && value.vt == VT_BSTR &&
        value.bstrVal)
        number = std::wcstoull(value.bstrVal, nullptr, 10);
    VariantClear(&value);
    return number;
}

} // namespace

// A parallel port may have two I/O ranges. An ECP port keeps its extended registers (ECP FIFO,
// configuration registers and the ECR) at base + 0x400, as the ECP ISA interface standard
// places them: of two ranges 0x400 apart, the lower one holds the standard registers. A PCI or
// PCIe card gets each of its two blocks where the firmware puts it; the standard block spans 8
// addresses (data, status, control and the EPP registers, base to base + 7). Windows' own
// driver takes the first range it is given as the standard one, but WMI documents no order for
// the ranges it lists, so the order is only the last resort.
std::optional<std::uint16_t> StandardRegisters(const std::vector<IoRange>& ranges) {
    for (const IoRange& low : ranges)
        for (const IoRange& high : ranges)
            if (high.start == low.start + 0x400)
                return static_cast<std::uint16_t>(low.start);
    for (const IoRange& range : ranges)
        if (range.end - range.start == 7)
            return static_cast<std::uint16_t>(range.start);
    if (ranges.empty())
        return std::nullopt;
    return static_cast<std::uint16_t>(ranges.front().start);
}

std::string WmiPortResourceQuery(const std::string& instanceId) {
    std::string path; // inside an object path: backslashes and quotes escaped
    for (char c : instanceId)
        path += c == '\\' || c == '"' ? std::string{'\\', c} : std::string{c};
    return "ASSOCIATORS OF {Win32_PnPEntity.DeviceID=\"" + path +
           "\"} WHERE ResultClass = Win32_PortResource";
}

std::optional<std::vector<IoRange>> WmiRanges(const NextRow& next) {
    std::vector<IoRange> ranges;
    for (;;) {
        std::optional<IoRange> range;
        const HRESULT got = next(kWmiRowWaitMs, range);
        if ((got == WBEM_S_NO_ERROR || got == WBEM_S_FALSE) && range)
            ranges.push_back(*range);
        if (got == WBEM_S_FALSE) // the end, which may come with the last row
            return ranges;
        if (got != WBEM_S_NO_ERROR || !range)
            return std::nullopt; // a list cut short may lack the range that matters
    }
}

// WMI's providers run natively, so this reads what a 32-bit program on 64-bit Windows 8 and
// later may not read itself. No call may wait without limit: the connection gives up within 2
// minutes (WBEM_FLAG_CONNECT_USE_MAX_WAIT, read by Vista and later; XP takes no flag), the query
// returns at once (semisynchronous, forward only) and each row is waited for kWmiRowWaitMs at most.
std::optional<std::vector<IoRange>> WmiIoRanges(const std::string& instanceId) {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    const long flags = version.dwMajorVersion >= 6 ? WBEM_FLAG_CONNECT_USE_MAX_WAIT : 0;
    const Bstr space("ROOT\\CIMV2"), language("WQL"), query(WmiPortResourceQuery(instanceId));
    ComRef<IWbemLocator> locator;
    ComRef<IWbemServices> services;
    ComRef<IEnumWbemClassObject> rows;
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void**>(&locator.p))) ||
        FAILED(locator->ConnectServer(space.b, nullptr, nullptr, nullptr, flags, nullptr, nullptr,
                                      &services.p)) ||
        !Impersonate(services.p) ||
        FAILED(services->ExecQuery(language.b, query.b,
                                   WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                   &rows.p)) ||
        !Impersonate(rows.p))
        return std::nullopt;
    return WmiRanges([&rows](long waitMs, std::optional<IoRange>& range) {
        ComRef<IWbemClassObject> row;
        ULONG count = 0;
        const HRESULT got = rows->Next(waitMs, 1, &row.p, &count);
        if (count == 1)
            range = IoRange{Uint64Property(row.p, L"StartingAddress"),
                            Uint64Property(row.p, L"EndingAddress")};
        return got;
    });
}

namespace {

// The device's instance ID (such as "PCI\VEN_1C00&DEV_3050&..."), which WMI names it by.
std::string InstanceId(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    char id[MAX_DEVICE_ID_LEN + 1] = {};
    return SetupDiGetDeviceInstanceIdA(devices, &device, id, sizeof id, nullptr) ? id : "";
}

// "LPTn" where the device is a parallel port; empty otherwise.
std::string PortName(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    const HKEY opened =
        SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (opened == INVALID_HANDLE_VALUE)
        return {};
    const RegistryHandle key(opened);
    char name[16] = {};
    DWORD size = sizeof name - 1, type = 0;
    const bool named = RegQueryValueExA(key.Get(), "PortName", nullptr, &type,
                                        reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
                       type == REG_SZ;
    return named && std::string(name).rfind("LPT", 0) == 0 ? name : "";
}

// The Ports class holds serial and parallel ports; a parallel one's "PortName" is LPTn.
class SetupApiParallelPorts : public ParallelPorts {
  public:
    std::optional<std::vector<ParallelPort>> List() override {
        const DeviceList list(
            SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT));
        if (!list)
            return std::nullopt;
        const HDEVINFO devices = list.Get();
        std::vector<ParallelPort> ports;
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
            const std::string name = PortName(devices, device);
            if (name.empty())
                continue;
            auto base = StandardRegisters(IoRanges(device.DevInst));
            if (!base)
                base = StandardRegisters(
                    WmiIoRanges(InstanceId(devices, device)).value_or(std::vector<IoRange>{}));
            ports.push_back({name, base});
        }
        return ports;
    }
};

int PortNumber(const std::string& name) {
    return name.size() > 3 ? std::atoi(name.c_str() + 3) : 0;
}

} // namespace

StatusRegister ChooseStatusRegister(const std::optional<std::vector<ParallelPort>>& ports) {
    if (!ports)
        return {std::nullopt, "Windows could not list the parallel ports: looking again."};
    const ParallelPort* first = nullptr;
    for (const ParallelPort& port : *ports) {
        if (port.base == kStatusPort - 1)
            return {kStatusPort, port.name + " at 0x378"};
        if (!first || PortNumber(port.name) < PortNumber(first->name))
            first = &port;
    }
    if (!first)
        return {kStatusPort, "Windows lists no parallel port"};
    if (!first->base)
        return {std::nullopt, "Windows lists " + first->name +
                                  " but could not give its I/O range, so it is not read at a "
                                  "guessed address: looking again."};
    return {static_cast<std::uint16_t>(*first->base + 1), first->name + " at " + Hex(*first->base)};
}

std::unique_ptr<ParallelPorts> MakeSystemParallelPorts() {
    return std::make_unique<SetupApiParallelPorts>();
}

ChosenRegister FindPortInBackground(std::unique_ptr<ParallelPorts> ports, std::uint32_t retryMs,
                                    std::uint32_t relistMs) {
    using Chosen = std::optional<StatusRegister>;
    std::shared_ptr<ParallelPorts> lister(std::move(ports));
    auto finder = std::make_shared<Worker<Chosen>>(
        [lister, com = false, kept = Chosen()]() mutable {
            // WMI needs COM on this thread: without it no range is read where only WMI gives it.
            if (!com)
                com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
            const StatusRegister chosen = ChooseStatusRegister(lister->List());
            if (chosen.address || !kept || !kept->address)
                kept = chosen; // a list that gives no address never replaces one that did
            return kept;
        },
        [retryMs, relistMs](const Chosen& kept) {
            return static_cast<int>(kept->address ? relistMs : retryMs);
        });
    if (!finder->Started())
        return [] {
            return Chosen(StatusRegister{std::nullopt, "Windows could not start a thread to list "
                                                       "the parallel ports: restart Larkmoor."});
        };
    return [finder] { return finder->Latest(); }; // the lister stops when the last copy goes
}

} // namespace larkmoor
