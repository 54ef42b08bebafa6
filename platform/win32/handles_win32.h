#pragma once

// One owner for each kind of Windows handle, freed with its owner: no release code by hand.

#include <windows.h>

#include <cfgmgr32.h>
#include <oleauto.h>
#include <setupapi.h>

#include <string>
#include <utility>

namespace larkmoor {

// A handle that `Traits::Free` releases; `Traits::kNone` holds nothing (as in LLVM's
// ScopedHandle).
template <typename Traits> class Owned {
  public:
    using Type = typename Traits::Type;
    Owned() = default;
    explicit Owned(Type handle) : handle_(handle) {}
    ~Owned() { Reset(); }
    Owned(Owned&& other) noexcept : handle_(std::exchange(other.handle_, None())) {}
    Owned& operator=(Owned&& other) noexcept {
        Reset(std::exchange(other.handle_, None()));
        return *this;
    }

    Type Get() const { return handle_; }
    explicit operator bool() const { return handle_ != None(); }
    void Reset(Type handle = None()) {
        if (handle_ != None())
            Traits::Free(handle_);
        handle_ = handle;
    }
    // Lets the handle go unfreed: one kept open for the life of the process, which Windows then
    // closes.
    Type Keep() { return std::exchange(handle_, None()); }

  private:
    static Type None() { return Traits::None(); }
    Type handle_ = None();
};

// The kinds of handle, each with what holds nothing and how it is freed.
template <typename T, auto Release> struct NullIsNone {
    using Type = T;
    static T None() { return T{}; }
    static void Free(T handle) { Release(handle); }
};
struct GdiObject {
    template <typename T> struct Of {
        using Type = T;
        static T None() { return nullptr; }
        static void Free(T handle) { DeleteObject(handle); }
    };
};
struct DeviceListTraits {
    using Type = HDEVINFO;
    static HDEVINFO None() { return INVALID_HANDLE_VALUE; }
    static void Free(HDEVINFO list) { SetupDiDestroyDeviceInfoList(list); }
};

// Kernel objects: processes, threads, events, tokens, file mappings.
using Handle = Owned<NullIsNone<HANDLE, CloseHandle>>;
using Font = Owned<GdiObject::Of<HFONT>>;
using Brush = Owned<GdiObject::Of<HBRUSH>>;
using Icon = Owned<NullIsNone<HICON, DestroyIcon>>;
using ServiceHandle = Owned<NullIsNone<SC_HANDLE, CloseServiceHandle>>;
using RegistryHandle = Owned<NullIsNone<HKEY, RegCloseKey>>;
using DeviceList = Owned<DeviceListTraits>;
using LogConf = Owned<NullIsNone<LOG_CONF, CM_Free_Log_Conf_Handle>>;
using ResDes = Owned<NullIsNone<RES_DES, CM_Free_Res_Des_Handle>>;
// Memory that Windows allocated for the caller with LocalAlloc, such as a security descriptor.
using LocalMemory = Owned<NullIsNone<HLOCAL, LocalFree>>;

// An event: manual-reset or auto-reset, not signalled at first.
class Event {
  public:
    explicit Event(bool manualReset) : event_(CreateEventA(nullptr, manualReset, FALSE, nullptr)) {}
    HANDLE Handle() const { return event_.Get(); }

  private:
    larkmoor::Handle event_;
};

// One reference to a COM object.
template <class Interface> struct ComRef {
    Interface* p = nullptr;
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() {
        if (p)
            p->Release();
    }
    Interface* operator->() const { return p; }
};

// A BSTR of an ASCII text.
struct Bstr {
    explicit Bstr(const std::string& text) : b(SysAllocStringLen(nullptr, text.size())) {
        if (b)
            std::copy(text.begin(), text.end(), b);
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(b); }
    BSTR b;
};

} // namespace larkmoor
