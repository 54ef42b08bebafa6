#pragma once

// What the Qt window tests share: a window system per test, steps scheduled on its event loop,
// and ways to find the widgets of a window.

#include "platform/qt/window_qt.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace larkmoor::qt_test {

inline int argc = 1;
inline char arg0[] = "qt_ui_tests";
inline char* argv[] = {arg0, nullptr};

// Runs the loop of `windows` until it ends by itself; ends it, failing, after `limitMs`.
inline int RunWithin(QtWindowSystem& windows, int limitMs = 5000) {
    bool overran = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        overran = true;
        windows.End();
    });
    guard.start(limitMs);
    const int code = windows.Run();
    EXPECT_FALSE(overran) << "the event loop did not end by itself";
    return code;
}

// Deletes the widgets of closed windows now.
inline void DeleteClosedWidgets() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

inline QWidget* ClientArea(ui::Window& window) {
    QWidget* top = QtWindowSystem::TopLevel(window);
    return top ? top->findChild<QWidget*>(kClientAreaName) : nullptr;
}

template <typename T = QWidget> T* Child(ui::Window& window, const char* name) {
    QWidget* top = QtWindowSystem::TopLevel(window);
    return top ? top->findChild<T*>(name) : nullptr;
}

// Pixels of `colour` inside `rect` of `widget` as its window draws it.
inline int CountPixels(QWidget& widget, QRect rect, QColor colour) {
    QWidget* window = widget.window();
    const QImage image =
        window->grab(QRect(widget.mapTo(window, QPoint(0, 0)), widget.size())).toImage();
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            count += image.pixelColor(x, y) == colour;
    return count;
}

class QtTest : public ::testing::Test {
  protected:
    QtWindowSystem windows{argc, argv};
    QObject scope; // the scheduled steps die with the test

    void After(int ms, std::function<void()> step) {
        QTimer::singleShot(ms, &scope, std::move(step));
    }
};

} // namespace larkmoor::qt_test
