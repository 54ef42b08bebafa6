// The closure-to-set delay of the Qt build. Each set runs the real clock helper of this build, as
// the program does, but one that cannot set the clock: this process gives up CAP_SYS_TIME for
// every program it starts, so the helper refuses at the point where it would set the clock, at
// the cost of a set. The bench refuses to run where that cannot be made sure.
#include "delay.h"
#include "platform/linux/clock_linux.h"
#include "platform/qt/window_qt.h"

#include <cstdio>
#include <cstdlib>
#include <linux/capability.h>
#include <memory>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

std::function<void()> StartThread(std::function<void()> body) {
    auto thread = std::make_shared<std::thread>(std::move(body));
    return [thread] { thread->join(); };
}

int main(int argc, char** argv) {
    // Root's programs hold what the bounding set holds; no one else's gain a file capability
    // once new privileges are refused.
    prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0);
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        (geteuid() == 0 && prctl(PR_CAPBSET_READ, CAP_SYS_TIME, 0, 0, 0) != 0)) {
        std::fprintf(stderr, "cannot keep cap_sys_time from the clock helper: not run\n");
        return 2;
    }
    const int closures = argc > 1 ? std::atoi(argv[1]) : 200;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
    int qtArgc = 1;
    larkmoor::QtWindowSystem windows(qtArgc, argv);
    const auto helper = larkmoor::MakeHelperClock(CLOCK_HELPER);
    return RunDelayBench(windows, closures, idleSeconds, helper.get());
}
