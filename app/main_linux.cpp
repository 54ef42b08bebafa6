// Starts Larkmoor on Linux, with the Qt window system. One Larkmoor runs per PC: a second start
// brings the running window to the front and ends, before it looks for the port.
#include "mainwindow/mainwindow.h"
#include "platform/linux/one_instance_linux.h"
#include "platform/qt/window_qt.h"
#include "program.h"

#include <QSocketNotifier>
#include <QWidget>

#include <cstdlib>

namespace {

void BringMainWindowToFront() {
    const auto& name = larkmoor::kMnuMenu.name;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->objectName() != QString::fromUtf8(name.data(), name.size()))
            continue;
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        window->show();
        window->raise();
        window->activateWindow();
    }
}

} // namespace

int main(int argc, char** argv) {
    // The time label follows the system's zone, as the clock helper does, whatever TZ says.
    unsetenv("TZ");
    const std::optional<int> instance = larkmoor::HoldInstanceName();
    if (!instance)
        return EXIT_SUCCESS; // the running one shows its window
    larkmoor::QtWindowSystem windows(argc, argv);
    QSocketNotifier requests(*instance, QSocketNotifier::Read);
    requests.setEnabled(*instance >= 0);
    QObject::connect(&requests, &QSocketNotifier::activated, [fd = *instance] {
        if (larkmoor::TakeShowRequests(fd))
            BringMainWindowToFront();
    });
    return larkmoor::RunProgram(windows);
}
