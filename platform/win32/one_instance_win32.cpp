#include "platform/win32/one_instance_win32.h"

#include "platform/win32/handles_win32.h"
#include "platform/win32/window_win32.h" // kWin32FormClass
#include "platform/win32/worker_win32.h"

#include <sddl.h>

#include <cstring>

namespace larkmoor {

namespace {

// The running one holds a mutex in the Global\ namespace, one for all sessions (present since XP),
// until it ends; Windows lets it go however the process ends, as abandoned. Any signed-in user may
// wait on it (SYNCHRONIZE), so that a start in another session can take over, and read its rights
// (READ_CONTROL), by which a start tells it from a name that another program took first. In its own
// session it waits on an event that any user may set (EVENT_MODIFY_STATE), so that a start that is
// not elevated can ask an elevated one to come to the front, which it could not do itself: an
// elevated process's objects carry its high integrity level, which no normal start may write to, so
// the event is labelled medium (a label XP does not know: there it goes without).
constexpr const char* kMutexAccess = "D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x120000;;;AU)";
constexpr ACCESS_MASK kMutexUsers = SYNCHRONIZE | READ_CONTROL;
constexpr int kNames = 4; // "Larkmoor", then "Larkmoor 2" and on where others hold those
constexpr const char* kEventAccess = "D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x100002;;;AU)S:(ML;;NW;;;ME)";

// Security attributes from a descriptor in SDDL, freed with their owner; without its label (S:)
// where the system does not know it.
class Access {
  public:
    explicit Access(const std::string& sddl) {
        for (const std::string& text : {sddl, sddl.substr(0, sddl.find("S:"))})
            if (ConvertStringSecurityDescriptorToSecurityDescriptorA(
                    text.c_str(), SDDL_REVISION_1, &attributes_.lpSecurityDescriptor, nullptr))
                break;
        descriptor_.Reset(attributes_.lpSecurityDescriptor);
    }
    SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

  private:
    SECURITY_ATTRIBUTES attributes_{sizeof attributes_, nullptr, FALSE};
    LocalMemory descriptor_; // what attributes_ points to
};

// An abandoned mutex counts as ended: its holder is gone, and the mutex is now this thread's.
bool Taken(DWORD wait) {
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

// This process's top-level window of the given class and title: its main window, or, while it
// waits for another session's Larkmoor, the message that says so.
HWND OwnWindow(const char* windowClass, const std::string& title) {
    for (HWND window = nullptr;
         (window = FindWindowExA(nullptr, window, windowClass, title.c_str()));) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId())
            return window;
    }
    return nullptr;
}

// Brings the main window of this process, or the message it shows while it waits, to the front
// each time a later start in this session asks.
void ShowWhenAsked(const std::string& title, const std::string& eventName) {
    HANDLE asked = CreateEventA(Access(kEventAccess).Attributes(), FALSE, FALSE, eventName.c_str());
    if (!asked)
        return;
    StartThread([asked, title] {
        while (WaitForSingleObject(asked, INFINITE) == WAIT_OBJECT_0) {
            HWND window = OwnWindow(kWin32FormClass, title);
            if (!window)
                window = OwnWindow("#32770", title); // a message box's class
            if (!window)
                continue;
            if (IsIconic(window))
                ShowWindowAsync(window, SW_RESTORE);
            SetForegroundWindow(window);
        }
    });
}

// True when a Larkmoor in this session was there to be asked to come to the front.
bool AskToShow(const std::string& eventName) {
    const Handle asked(OpenEventA(EVENT_MODIFY_STATE, FALSE, eventName.c_str()));
    if (!asked)
        return false;
    AllowSetForegroundWindow(ASFW_ANY); // the foreground is this start's to give
    return SetEvent(asked.Get());
}

// A start that holds the right to set the clock asks a running one that lacks it (started from the
// Start menu without elevation, before the logon task's) to make way, and waits for it to end: true
// once this start holds the name. Where the running one holds the right too, nothing listens.
bool TakeOver(HANDLE mutex, const std::string& eventName) {
    {
        const Handle asked(OpenEventA(EVENT_MODIFY_STATE, FALSE, eventName.c_str()));
        if (!asked)
            return false;
        SetEvent(asked.Get());
    }
    return Taken(WaitForSingleObject(mutex, 5000));
}

// In one that lacks the right: ends it when a start that holds it asks.
void EndWhenTakenOver(const std::string& eventName, const std::function<void()>& end) {
    HANDLE asked = CreateEventA(Access(kEventAccess).Attributes(), FALSE, FALSE, eventName.c_str());
    if (asked)
        StartThread([asked, end] {
            if (WaitForSingleObject(asked, INFINITE) == WAIT_OBJECT_0)
                end();
        });
}

} // namespace

unsigned long AllowedToEveryUser(void* object) {
    alignas(ACL) unsigned char buffer[1024];
    auto* descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(buffer);
    DWORD needed = 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetKernelObjectSecurity(object, DACL_SECURITY_INFORMATION, descriptor, sizeof buffer,
                                 &needed) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl)
        return 0;
    static const unsigned char kUsers[] = {1, 1, 0, 0, 0, 0, 0, 5, 11, 0, 0, 0}; // S-1-5-11
    ACCESS_MASK allowed = 0;
    auto* ace = reinterpret_cast<const unsigned char*>(dacl + 1);
    for (WORD i = 0; i < dacl->AceCount;
         ++i, ace += reinterpret_cast<const ACE_HEADER*>(ace)->AceSize) {
        const auto* entry = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace);
        if (entry->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            std::memcmp(&entry->SidStart, kUsers, sizeof kUsers) == 0)
            allowed |= entry->Mask;
    }
    return allowed;
}

bool HoldThePc(const std::string& title, const std::function<void(const std::string&)>& tell,
               bool holdsRight, const std::function<void()>& end) {
    const std::string eventName = "Local\\" + title + " show";
    std::string name;
    Handle mutex;
    bool held = false;
    for (int n = 1; n <= kNames && !mutex; ++n) {
        name = "Global\\" + title + (n > 1 ? " " + std::to_string(n) : "");
        mutex.Reset(CreateMutexA(Access(kMutexAccess).Attributes(), TRUE, name.c_str()));
        held = mutex && GetLastError() != ERROR_ALREADY_EXISTS;
        if (!mutex) // another user's: it may only be waited on, and its rights read
            mutex.Reset(OpenMutexA(kMutexUsers, FALSE, name.c_str()));
        // Every Larkmoor makes its name with these rights for every user, and no more. A program
        // that takes the name first, by mistake or to keep Larkmoor waiting for ever, makes it
        // with rights of its own, which this start may not even read: the next name, then.
        if (mutex && !held && AllowedToEveryUser(mutex.Get()) != kMutexUsers)
            mutex.Reset();
    }
    if (!mutex)
        return true; // the PC cannot tell: two are better than none
    const std::string takeOver = name + " take over";
    if (!held && !Taken(WaitForSingleObject(mutex.Get(), 0)) &&
        !(holdsRight && TakeOver(mutex.Get(), takeOver))) {
        if (AskToShow(eventName)) // the running one, or one that waits in this session
            return false;
        ShowWhenAsked(title, eventName);
        tell(title + " already runs on this PC, in another user's session.\nOnly one may run, "
                     "since each sets the clock and reads the port. This one starts by itself "
                     "once that one has ended.");
        while (!Taken(WaitForSingleObject(mutex.Get(), INFINITE))) {
        }
    } else {
        ShowWhenAsked(title, eventName);
    }
    if (!holdsRight && end)
        EndWhenTakenOver(takeOver, end);
    mutex.Keep(); // held for the life of the process
    return true;
}

} // namespace larkmoor
