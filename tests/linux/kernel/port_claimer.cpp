// Run in the test machine: claims a ppdev device (waiting as long as the kernel makes it), then
// prints the port's status every 250 ms until killed; or, with "release", holds the port until
// SIGUSR1, then releases it (PPRELEASE) and says so. Usage: port_claimer /dev/parportN [release]
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    sigset_t release;
    sigemptyset(&release);
    sigaddset(&release, SIGUSR1);
    sigprocmask(SIG_BLOCK, &release, nullptr);
    const int fd = argc >= 2 ? open(argv[1], O_RDWR) : -1;
    if (fd < 0 || ioctl(fd, PPCLAIM) != 0) {
        std::perror("port_claimer");
        return 1;
    }
    if (argc == 3) {
        int signal = 0;
        sigwait(&release, &signal);
        std::puts(ioctl(fd, PPRELEASE) == 0 ? "released" : "failed");
        return 0;
    }
    for (unsigned char status = 0;; usleep(250000)) {
        const int result = ioctl(fd, PPRSTATUS, &status);
        std::printf(result == 0 ? "status 0x%02x\n" : "status read failed\n", status);
        std::fflush(stdout);
    }
}
