// Preloaded into QEMU: answers the ppdev calls QEMU makes on the regular file given as its
// parallel port's device, so that the guest reads a status byte the test sets. Byte 0 of the file
// is the status register; QEMU's status reads are counted in ASCII at offset 16. Other calls
// succeed and change nothing (QEMU keeps the control register itself).
#include <cstdarg>
#include <cstdio>
#include <dlfcn.h>
#include <linux/ioctl.h>
#include <linux/ppdev.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    struct stat st {};
    if (_IOC_TYPE(request) != PP_IOCTL || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        static const auto real =
            reinterpret_cast<int (*)(int, unsigned long, void*)>(dlsym(RTLD_NEXT, "ioctl"));
        return real(fd, request, arg);
    }
    static unsigned long statusReads = 0;
    char count[13];
    if (request != PPRSTATUS)
        return 0;
    std::snprintf(count, sizeof count, "%012lu", ++statusReads);
    return pwrite(fd, count, 12, 16) == 12 && pread(fd, arg, 1, 0) == 1 ? 0 : -1;
}
