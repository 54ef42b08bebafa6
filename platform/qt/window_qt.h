#pragma once

// The window system on Linux: Qt 6 Widgets. Each FormDecl becomes a top-level widget named after
// the form, holding an optional menu bar and a client area (named kClientAreaName) whose children
// are named after their controls; menu entries and timers carry their declared names too.

#include "platform/ui.h"

#include <QApplication>
#include <QIcon>
#include <QPointer>

#include <string>
#include <vector>

class QMessageBox;
class QWidget;

namespace larkmoor {

class QtWindow;

inline constexpr const char* kClientAreaName = "clientArea";

// Layout is declared at 96 dpi in device-independent pixels; Qt scales them for the screen.
inline constexpr int kLayoutDpi = 96;

class QtWindowSystem : public ui::WindowSystem {
  public:
    QtWindowSystem(int& argc, char** argv);
    // Destroy every Window made here before this.
    ~QtWindowSystem() override;
    QtWindowSystem(const QtWindowSystem&) = delete;
    QtWindowSystem& operator=(const QtWindowSystem&) = delete;

    std::unique_ptr<ui::Window> Create(const ui::FormDecl& form, ui::FormEvents& events) override;
    void ShowMessage(ui::Window* owner, std::string_view text, std::string_view caption) override;
    int Run() override;
    void End() override;

    // The program icon, as windows and the picture show it.
    const QIcon& Icon() const { return icon_; }
    // The top-level widget of an open window, else null.
    static QWidget* TopLevel(ui::Window& window);

  private:
    friend class QtWindow;
    void Forget(QtWindow* window);
    void QuitIfNoWindows();
    // Ends the program with `why`, which Run says; the first reason is the one said.
    void Fail(std::string why);

    QApplication app_;
    QIcon icon_;
    std::vector<QtWindow*> open_;
    std::vector<QPointer<QMessageBox>> boxes_;
    bool running_ = false;
    bool ended_ = false;
    std::string failed_; // why the program could not go on
};

} // namespace larkmoor
