// Starts Larkmoor on Linux, with the Qt window system. One Larkmoor runs per PC: a second start
// on the same seat brings the running window to the front and ends, before it looks for the
// port; any other second start says where Larkmoor runs and takes over once that one ends.
#include "mainwindow/mainwindow.h"
#include "platform/linux/one_instance_linux.h"
#include "platform/qt/window_qt.h"
#include "program.h"
#include "version.h"

#include <QEventLoop>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cstdlib>
#include <optional>

namespace {

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
void TakeOverWhenItEnds(larkmoor::Instance& instance) {
    QMessageBox box(QMessageBox::Information, larkmoor::kTitle,
                    QString::fromStdString(instance.message), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.show();
    QEventLoop waiting;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (larkmoor::TakeOver(instance, larkmoor::kInstanceFolder))
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
    larkmoor::Instance instance = larkmoor::FindInstance(larkmoor::kInstanceFolder, seat);
    using Is = larkmoor::Instance::Is;
    if (instance.is == Is::kShown)
        return EXIT_SUCCESS;
    larkmoor::QtWindowSystem windows(argc, argv);
    if (instance.is == Is::kRefused) {
        windows.ShowMessage(nullptr, instance.message, larkmoor::kTitle);
        return EXIT_FAILURE;
    }
    if (instance.is == Is::kElsewhere)
        TakeOverWhenItEnds(instance);
    // Without the folder (a build tree on a PC without the package) nobody can ask.
    std::optional<QSocketNotifier> requests;
    if (instance.listening >= 0) {
        requests.emplace(instance.listening, QSocketNotifier::Read);
        QObject::connect(&*requests, &QSocketNotifier::activated, [&] {
            if (const auto token = larkmoor::AnswerRequests(instance.listening, seat))
                BringMainWindowToFront(*token);
        });
    }
    return larkmoor::RunProgram(windows);
}
