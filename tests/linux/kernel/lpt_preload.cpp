// Preloaded into QEMU: answers the ppdev calls QEMU makes on the regular file given as its
// parallel port's device, so that the guest's port reads a status byte the test sets. Byte 0 of
// the file is the status register; QEMU's status reads are counted in ASCII at offset 16.
#include <cstdarg>
#include <cstdio>
#include <dlfcn.h>
#include <linux/ioctl.h>
#include <linux/ppdev.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
unsigned char data = 0xFF, control = 0x0C;
unsigned long statusReads = 0;

int Answer(int fd, unsigned long request, void* arg) {
    auto* byte = static_cast<unsigned char*>(arg);
    switch (request) {
    case PPRSTATUS: {
        char count[13];
        std::snprintf(count, sizeof count, "%012lu", ++statusReads);
        pwrite(fd, count, 12, 16);
        return pread(fd, byte, 1, 0) == 1 ? 0 : -1;
    }
    case PPRDATA: return *byte = data, 0;
    case PPWDATA: return data = *byte, 0;
    case PPRCONTROL: return *byte = control, 0;
    case PPWCONTROL: return control = *byte, 0;
    default: return 0; // claim, release, data direction, mode
    }
}
} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    struct stat st{};
    if (_IOC_TYPE(request) == PP_IOCTL && fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        return Answer(fd, request, arg);
    using Ioctl = int (*)(int, unsigned long, void*);
    static const auto real = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
    return real(fd, request, arg);
}
