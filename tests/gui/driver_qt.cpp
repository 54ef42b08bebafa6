// Drives the Qt window system on the offscreen platform.
#include "driver.h"
#include "platform/qt/window_qt.h"

#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>

namespace larkmoor::gui {
namespace {

int argc = 1;
char arg0[] = "gui_tests";
char* argv[] = {arg0, nullptr};

ui::Colour ToColour(const QColor& c) {
    return ui::Rgb(c.red(), c.green(), c.blue());
}

QWidget* Widget(ui::Window& window, std::string_view name) {
    QWidget* top = QtWindowSystem::TopLevel(window);
    return top ? top->findChild<QWidget*>(QString::fromUtf8(name.data(), name.size())) : nullptr;
}

// Clicks the action captioned `caption` where `on` (a menu bar or a drop-down) shows it; the
// action, or null where `on` shows none.
template <typename Menu> QAction* ClickCaptioned(Menu* on, const QString& caption) {
    for (QAction* action : on->actions()) {
        if (action->text() == caption) {
            QTest::mouseClick(on, Qt::LeftButton, {}, on->actionGeometry(action).center());
            return action;
        }
    }
    return nullptr;
}

// Runs `action` from the event loop, as a user's input would arrive.
void Later(std::function<void()> action) {
    QTimer::singleShot(0, qApp, std::move(action));
}

class QtDriver : public Driver {
  public:
    ui::WindowSystem& Windows() override { return windows_; }

    Rect Place(ui::Window& window, std::string_view control) override {
        const QRect r = Widget(window, control.empty() ? kClientAreaName : control)->geometry();
        return {control.empty() ? 0 : r.x(), control.empty() ? 0 : r.y(), r.width(), r.height()};
    }
    // The background is the pixel in the label's bottom-right corner, as the window draws it.
    std::pair<ui::Colour, ui::Colour> Colours(ui::Window& window, std::string_view label) override {
        QWidget* w = Widget(window, label);
        const QImage image = w->window()->grab().toImage();
        return {ToColour(w->palette().color(w->foregroundRole())),
                ToColour(image.pixelColor(
                    w->mapTo(w->window(), QPoint(w->width() - 1, w->height() - 1))))};
    }
    bool HasFocus(ui::Window& window, std::string_view control) override {
        return QApplication::focusWidget() &&
               QApplication::focusWidget() == Widget(window, control);
    }
    int ShownWindows() override {
        return static_cast<int>(std::ranges::count_if(QApplication::topLevelWidgets(), [](auto* w) {
            return w->isVisible() && !qobject_cast<QMenu*>(w);
        }));
    }
    std::string MessageText(bool dismiss) override {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible())
                continue;
            const std::string text = (box->windowTitle() + ": " + box->text()).toStdString();
            if (dismiss)
                QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            return text;
        }
        return {};
    }
    bool MoveToDpi(ui::Window&, int) override { return false; }

    void Press(Key key) override {
        const Qt::Key qtKey = key == Key::Enter ? Qt::Key_Return : Qt::Key_Escape;
        Later([qtKey] { QTest::keyClick(QApplication::focusWidget(), qtKey); });
    }
    // A click on the menu bar's title captioned, then on the drop-down's command.
    void Choose(ui::Window& window, std::string_view path) override {
        auto* bar = QtWindowSystem::TopLevel(window)->findChild<QMenuBar*>();
        const QStringList captions = QString::fromUtf8(path.data(), path.size()).split('>');
        Later([=] {
            QAction* title = ClickCaptioned(bar, captions[0]);
            if (QMenu* menu = captions.size() > 1 && title ? title->menu() : nullptr)
                Later([=] { ClickCaptioned(menu, captions[1]); });
        });
    }
    // A click on a button; a close request, as the window manager sends it for the frame's close
    // box.
    void Act(ui::Window& window, std::string_view name) override {
        QWidget* top = QtWindowSystem::TopLevel(window);
        if (name.empty())
            return Later([top] { top->close(); });
        Later([button = Widget(window, name)] { QTest::mouseClick(button, Qt::LeftButton); });
    }

    std::optional<int> Run(int limitMs, std::function<bool()> until) override {
        bool stopped = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (!stopped &&
                (stopped = (until && until()) || std::chrono::steady_clock::now() >= deadline))
                QCoreApplication::exit(0);
        });
        check.start(10);
        const int code = windows_.Run();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return stopped ? std::nullopt : std::optional(code);
    }

  private:
    QtWindowSystem windows_{argc, argv};
};

} // namespace

std::unique_ptr<Driver> MakeDriver() {
    return std::make_unique<QtDriver>();
}

} // namespace larkmoor::gui
