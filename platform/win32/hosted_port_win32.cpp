// The window's side of the port host: starts it, asks it for readings, takes what it published,
// and ends and restarts it when it stops answering or crashes. Nothing here waits.
#include "platform/win32/clock_win32.h" // SystemMessage
#include "platform/win32/handles_win32.h"
#include "platform/win32/port_host_win32.h"

namespace larkmoor {

namespace {

// A host that ended or was ended is started again when the library files change (looked at every
// kLookAgainMs), or after this long.
constexpr std::uint32_t kRestartMs = 60000;

// A copy of what the host last published.
struct Published {
    LONG sequence = 0;
    LONG status = -1;
    LONG address = 0;
    std::optional<std::int64_t> closedAtNs;
    std::string note;
};

// Takes a whole copy of the page's reading: none while the host is in the middle of writing
// one (it then has the next one ready within microseconds).
std::optional<Published> Take(const PortPage& page) {
    const LONG before = page.sequence;
    MemoryBarrier();
    if (before % 2 != 0)
        return std::nullopt;
    Published copy{before, page.status, page.address_read,
                   page.closed ? std::optional(page.closedAtNs) : std::nullopt,
                   std::string(page.note, strnlen(page.note, sizeof page.note))};
    MemoryBarrier();
    if (page.sequence != before)
        return std::nullopt;
    return copy;
}

SECURITY_ATTRIBUTES Inheritable() {
    return {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
}

// A job that ends every process in it when its last handle closes, however this process ends.
HANDLE KillOnCloseJob() {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job)
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

class HostedPort : public Port {
  public:
    HostedPort(std::string program, ChosenRegister chosen, TickCount ticks,
               std::function<bool()> nearClosure, std::unique_ptr<Registry> registry)
        : program_(std::move(program)), folders_(PortLibraryFolders(program_)),
          chosen_(std::move(chosen)), ticks_(std::move(ticks)),
          nearClosure_(std::move(nearClosure)), registry_(std::move(registry)) {
        SECURITY_ATTRIBUTES inherit = Inheritable();
        mapping_.Reset(CreateFileMappingA(INVALID_HANDLE_VALUE, &inherit, PAGE_READWRITE, 0,
                                          sizeof(PortPage), nullptr));
        asked_.Reset(CreateEventA(&inherit, FALSE, FALSE, nullptr));
        HANDLE self = nullptr;
        DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                        SYNCHRONIZE, TRUE, 0);
        self_.Reset(self);
        job_.Reset(KillOnCloseJob());
        if (mapping_.Get())
            page_ = static_cast<PortPage*>(
                MapViewOfFile(mapping_.Get(), FILE_MAP_WRITE, 0, 0, sizeof(PortPage)));
        if (!page_ || !asked_.Get() || !self_.Get())
            why_ = "Windows could not prepare the port host: " + SystemMessage(GetLastError()) +
                   "\nRestart Larkmoor.";
    }
    ~HostedPort() override {
        EndHost();
        if (page_)
            UnmapViewOfFile(page_);
    }

    PortReading Inp(std::uint16_t) override {
        if (!page_)
            return {std::nullopt, why_};
        const std::optional<StatusRegister> chosen = chosen_();
        page_->address = chosen && chosen->address ? *chosen->address : 0;
        page_->fast = nearClosure_();
        const std::uint32_t now = ticks_();
        if (!host_.Get() && !StartWhenDue(now))
            return {std::nullopt, why_};
        SetEvent(asked_.Get());
        const std::optional<Published> taken = Take(*page_);
        const bool fresh = taken && taken->sequence != seen_;
        if (fresh) {
            seen_ = taken->sequence;
            publishedAt_ = now;
            latest_ = taken;
        }
        // A host that has just published is alive; only one that has not is looked at.
        if (!fresh && WaitForSingleObject(host_.Get(), 0) == WAIT_OBJECT_0)
            return Stop(now, Ended());
        if (now - publishedAt_ >= kHostPatienceMs)
            return Stop(now, "The port library has not answered for " +
                                 std::to_string((now - publishedAt_) / 1000) +
                                 " s: it may be stuck starting its driver.");
        if (!latest_)
            return {std::nullopt, "Waiting for the port library to answer."};
        return Reading(*latest_, chosen);
    }

  private:
    // The reading as the window uses it: one read at the register chosen now, and a note that
    // says which port was read and through which library.
    static PortReading Reading(const Published& p, const std::optional<StatusRegister>& chosen) {
        if (p.status < 0 && !p.note.empty())
            return {std::nullopt, p.note}; // why the library cannot be read
        if (!chosen)
            return {std::nullopt, "Looking for the parallel port: Windows is listing the ports."};
        if (!chosen->address)
            return {std::nullopt, chosen->which};
        const std::string note =
            "Reading " + Hex(*chosen->address) + " (" + chosen->which + ") through " + p.note + ".";
        if (p.status < 0 || p.address != *chosen->address)
            return {std::nullopt, note}; // read elsewhere: the contact counts once seen open here
        return {static_cast<std::uint8_t>(p.status), note, p.closedAtNs};
    }

    // Why the host ended by itself.
    std::string Ended() const {
        DWORD code = 0;
        GetExitCodeProcess(host_.Get(), &code);
        const std::string crashed(page_->crashed, strnlen(page_->crashed, sizeof page_->crashed));
        if (!crashed.empty())
            return "The port library crashed: " + crashed + ".";
        return "The port host ended with code 0x" + Hex(code).substr(2) + ".";
    }

    // "No Port" with `why`, the driver policies that may explain it, and when it is tried again.
    PortReading Stop(std::uint32_t now, const std::string& why) {
        EndHost();
        stoppedAt_ = now;
        checkedAt_ = now;
        files_ = LibraryFiles(folders_);
        const std::string policy = registry_ ? DriverPolicyNote(*registry_) : "";
        why_ = why + (policy.empty() ? "" : "\n" + policy) +
               "\nLarkmoor loads it again when its files change, or in a minute.";
        return {std::nullopt, why_};
    }

    // Starts the host, unless one was stopped less than a minute ago and the library files have
    // not changed since. Unsigned arithmetic: right across the tick count's wraparound.
    bool StartWhenDue(std::uint32_t now) {
        if (stoppedAt_ && now - *stoppedAt_ < kRestartMs) {
            if (now - checkedAt_ < kLookAgainMs)
                return false;
            checkedAt_ = now;
            if (LibraryFiles(folders_) == files_)
                return false;
        }
        page_->crashed[0] = '\0';
        latest_.reset();
        publishedAt_ = now;
        const HostHandles handles{mapping_.Get(), asked_.Get(), self_.Get()};
        std::string command = HostCommandLine(program_, handles);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started{};
        if (!CreateProcessA(program_.c_str(), command.data(), nullptr, nullptr, TRUE,
                            CREATE_SUSPENDED, nullptr, nullptr, &startup, &started)) {
            Stop(now, "Windows could not start the port host " + program_ + ": " +
                          SystemMessage(GetLastError()));
            return false;
        }
        // Where Windows cannot put it in the job (a job of our own on XP to 7), the host still
        // ends with this process, which it watches.
        if (job_.Get())
            AssignProcessToJobObject(job_.Get(), started.hProcess);
        const Handle thread(started.hThread);
        ResumeThread(thread.Get());
        host_.Reset(started.hProcess);
        return true;
    }

    void EndHost() {
        if (!host_.Get())
            return;
        TerminateProcess(host_.Get(), 1);
        WaitForSingleObject(host_.Get(), 1000);
        host_.Reset();
    }

    const std::string program_;
    const std::vector<std::string> folders_;
    ChosenRegister chosen_;
    TickCount ticks_;
    std::function<bool()> nearClosure_;
    std::unique_ptr<Registry> registry_;
    Handle mapping_, asked_, self_, job_, host_;
    PortPage* page_ = nullptr;
    LONG seen_ = 0; // the page's sequence last taken; 0: nothing published yet
    std::optional<Published> latest_;
    std::uint32_t publishedAt_ = 0, checkedAt_ = 0;
    std::optional<std::uint32_t> stoppedAt_;
    std::string files_; // the library files when the host was stopped
    std::string why_;   // why there is no host
};

} // namespace

std::unique_ptr<Port> MakeHostedPort(std::string hostProgram, ChosenRegister chosen,
                                     TickCount ticks, std::function<bool()> nearClosure,
                                     std::unique_ptr<Registry> registry) {
    return std::make_unique<HostedPort>(std::move(hostProgram), std::move(chosen), std::move(ticks),
                                        std::move(nearClosure), std::move(registry));
}

} // namespace larkmoor
