// Starts Larkmoor on Linux, with the Qt window system. One Larkmoor runs per PC: a second start
// on the same seat brings the running window to the front and ends, before it looks for the
// port; any other second start says where Larkmoor runs and takes over once that one ends.
#include "mainwindow/mainwindow.h"
#include "platform/linux/one_instance_linux.h"
#include "platform/linux/readiness_linux.h"
#include "platform/qt/timesyncd_qt.h"
#include "platform/qt/window_qt.h"
#include "program.h"
#include "version.h"

#include <QEventLoop>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <csignal>
#include <cstdlib>
#include <optional>
#include <unistd.h>

namespace {

// The lock and the socket of the PC's one Larkmoor, while this process holds them.
volatile sig_atomic_t heldLock = -1, heldSocket = -1;

// Lets go of the PC. The kernel would do it only once every thread has ended, and the port's
// thread may be held in the kernel for as long as another program holds ppdev up: a new start
// would wait for that program.
void LetGo() {
    if (heldSocket >= 0)
        close(heldSocket);
    if (heldLock >= 0)
        close(heldLock);
    heldLock = -1;
    heldSocket = -1;
}

// Ended from outside (SIGTERM at shutdown, SIGINT, SIGHUP): the PC is let go first, then the
// signal ends the process as it would have.
void EndOnSignal(int signal) {
    LetGo();
    std::signal(signal, SIG_DFL);
    raise(signal);
}

void BringMainWindowToFront(const std::string& token) {
    // Qt's Wayland backend hands this token to the compositor at the next activation.
    if (!token.empty())
        qputenv("XDG_ACTIVATION_TOKEN", QByteArray::fromStdString(token));
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

// Says where Larkmoor runs, and waits (with or without the message on the screen) until that one
// ends and this one holds the PC.
void TakeOverWhenItEnds(larkmoor::Instance& instance, const std::string& folder) {
    QMessageBox box(QMessageBox::Information, larkmoor::kTitle,
                    QString::fromStdString(instance.message), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.show();
    QEventLoop waiting;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (larkmoor::TakeOver(instance, folder))
            waiting.quit();
    });
    look.start(500);
    waiting.exec();
}

} // namespace

int main(int argc, char** argv) {
    // The time label follows the system's zone, as the clock helper does, whatever TZ says.
    unsetenv("TZ");
    const larkmoor::Seat seat = larkmoor::ThisSeat();
    const std::string folder = larkmoor::InstanceFolder(larkmoor::kInstanceFolder, seat.uid);
    larkmoor::Instance instance = larkmoor::FindInstance(folder, seat);
    using Is = larkmoor::Instance::Is;
    if (instance.is == Is::kShown)
        return EXIT_SUCCESS;
    larkmoor::QtWindowSystem windows(argc, argv);
    if (instance.is == Is::kRefused) {
        windows.ShowMessage(nullptr, instance.message, larkmoor::kTitle);
        return EXIT_FAILURE;
    }
    if (instance.is == Is::kElsewhere)
        TakeOverWhenItEnds(instance, folder);
    // Closed by LetGo alone, which a signal may also call.
    heldLock = instance.lock.Release();
    heldSocket = instance.listening.Release();
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        std::signal(signal, EndOnSignal);
    // Answered on this thread without waiting: a caller that has not yet written its line is
    // looked at again on a timer until it has, or its time is up.
    std::optional<larkmoor::Requests> requests;
    std::optional<QSocketNotifier> callers;
    QTimer again;
    const auto answer = [&] {
        if (const auto token = requests->Answer(std::chrono::steady_clock::now()))
            BringMainWindowToFront(*token);
        requests->Waiting() ? again.start(50) : again.stop();
    };
    if (heldSocket >= 0) {
        requests.emplace(heldSocket, seat);
        callers.emplace(heldSocket, QSocketNotifier::Read);
        QObject::connect(&*callers, &QSocketNotifier::activated, answer);
        QObject::connect(&again, &QTimer::timeout, answer);
    }
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] {
        if (callers)
            callers->setEnabled(false);
        LetGo();
    });
    // systemd is asked over the bus with Qt's D-Bus module, which the system library does not hold.
    return larkmoor::RunProgram(windows,
                                *larkmoor::MakeSystemReadiness(larkmoor::TimesyncdEnabled));
}
