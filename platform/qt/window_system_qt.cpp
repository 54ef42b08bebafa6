#include "platform/qt/widgets_qt.h"

#include "version.h"

#include <QMessageBox>

#include <algorithm>

namespace larkmoor {

QtWindowSystem::QtWindowSystem(int& argc, char** argv)
    : app_(argc, argv), icon_(QStringLiteral(":/larkmoor/larkmoor.ico")) {
    QApplication::setQuitOnLastWindowClosed(false); // Run counts the forms itself
    QApplication::setWindowIcon(icon_);
}

QtWindowSystem::~QtWindowSystem() {
    for (QtWindow* window : std::vector(open_))
        window->Unload(false);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

std::unique_ptr<ui::Window> QtWindowSystem::Create(const ui::FormDecl& form,
                                                   ui::FormEvents& events) {
    auto window = std::make_unique<QtWindow>(*this, form, events);
    open_.push_back(window.get());
    if (ended_)
        window->Unload(false);
    return window;
}

void QtWindowSystem::ShowMessage(ui::Window* owner, std::string_view text,
                                 std::string_view caption) {
    if (ended_)
        return;
    QWidget* parent = owner ? TopLevel(*owner) : nullptr;
    // On the heap: a closing owner takes its box with it.
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::NoIcon, ToQString(caption),
                                                ToQString(text), QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText);
    box->setWindowIcon(icon_);
    boxes_.push_back(box);
    box->exec(); // a nested event loop: timers go on
    std::erase_if(boxes_, [&](const QPointer<QMessageBox>& b) { return !b || b == box; });
    delete box.data();
}

int QtWindowSystem::Run() {
    int code = 0;
    if (!ended_ && !open_.empty()) {
        running_ = true;
        code = QApplication::exec();
        running_ = false;
    }
    if (failed_.empty())
        return code;
    QMessageBox box(QMessageBox::Critical, kTitle, ToQString(failed_), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return 1;
}

void QtWindowSystem::Fail(std::string why) {
    if (failed_.empty())
        failed_ = std::move(why);
    End();
}

void QtWindowSystem::End() {
    ended_ = true;
    for (const auto& box : boxes_)
        if (box)
            box->reject();
    for (QtWindow* window : std::vector(open_))
        window->Unload(false);
    if (running_)
        QCoreApplication::exit(0);
}

QWidget* QtWindowSystem::TopLevel(ui::Window& window) {
    auto* qtWindow = dynamic_cast<QtWindow*>(&window);
    return qtWindow ? qtWindow->TopLevel() : nullptr;
}

void QtWindowSystem::Forget(QtWindow* window) {
    std::erase(open_, window);
}

void QtWindowSystem::QuitIfNoWindows() {
    if (running_ && open_.empty())
        QCoreApplication::exit(0);
}

} // namespace larkmoor
