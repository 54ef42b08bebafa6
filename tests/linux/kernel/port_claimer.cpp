// Run in the test machine: claims a ppdev device (waiting as long as the kernel makes it), then
// prints the port's status every 250 ms until killed. Usage: port_claimer /dev/parportN
#include <cstdio>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    const int fd = argc == 2 ? open(argv[1], O_RDWR) : -1;
    if (fd < 0 || ioctl(fd, PPCLAIM) != 0)
        return std::perror("port_claimer"), 1;
    for (unsigned char status = 0;; usleep(250000)) {
        const int result = ioctl(fd, PPRSTATUS, &status);
        std::printf(result == 0 ? "status 0x%02x\n" : "status read failed\n", status);
        std::fflush(stdout);
    }
}
