#pragma once

// The widgets behind a Qt window: the form's top-level widget, its declared controls, and the
// window that owns them, with the conversions they share.

#include "platform/qt/window_qt.h"

#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include <map>
#include <memory>
#include <span>
#include <string>

class QMenuBar;

namespace larkmoor {

QString ToQString(std::string_view text);
// The text of a word-wrapped label, which breaks lines only at spaces, as Win32's labels do.
QString WrappedText(std::string_view text);
// Twips as device-independent pixels at the layout's DPI.
int Px(int twips);
// Declared colours replace the palette's; kSystemColour keeps it.
void ApplyColours(QWidget& widget, ui::Colour fore, ui::Colour back);

// The top-level widget of a form. It reports clicks, ticks and its frame's close to its window
// while that window owns it, and gives Enter and Escape to the default and cancel buttons.
class FormWidget : public QWidget {
  public:
    explicit FormWidget(ui::Frame frame);

    QtWindow* owner = nullptr;
    QPointer<QPushButton> defaultButton;
    QPointer<QPushButton> cancelButton;

    void Click(const std::string& name);
    void Tick(const std::string& name);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

// A declared control; once its window has closed, every call is a no-op.
class QtControl : public ui::Control {
  public:
    QtControl(QWidget* widget, bool hasText) : widget_(widget), hasText_(hasText) {}
    void Detach() { widget_ = nullptr; }

    void SetText(std::string_view text) override;
    std::string Text() const override;
    void SetVisible(bool visible) override;
    bool Visible() const override { return widget_ && !widget_->isHidden(); }
    void SetToolTip(std::string_view text) override {
        if (widget_)
            widget_->setToolTip(ToQString(text));
    }
    std::string ToolTip() const override {
        return widget_ ? widget_->toolTip().toStdString() : std::string();
    }

  private:
    QPointer<QWidget> widget_;
    bool hasText_;
};

class QtWindow : public ui::Window {
  public:
    QtWindow(QtWindowSystem& system, const ui::FormDecl& form, ui::FormEvents& events);
    ~QtWindow() override { Unload(false); }
    QtWindow(const QtWindow&) = delete;
    QtWindow& operator=(const QtWindow&) = delete;

    ui::Control& Find(std::string_view name) override;
    void SetCaption(std::string_view caption) override;
    std::string Caption() const override;
    void Show() override;
    void Close() override { Unload(true); }
    bool IsOpen() const override { return events_ != nullptr; }

    QWidget* TopLevel() const { return form_; }
    ui::FormEvents* Events() const { return events_; }
    // Takes the widgets down and forgets the form; `notify` tells it with Unload.
    void Unload(bool notify);

  private:
    QMenuBar* MakeMenuBar(std::span<const ui::MenuDecl> entries);
    template <typename Bar> void AddMenuEntries(Bar& bar, std::span<const ui::MenuDecl> entries);
    void AddControls(std::span<const ui::ControlDecl> decls, QWidget& client);
    QWidget* MakeControl(const ui::ControlDecl& decl, QWidget& client);
    QPushButton* MakeButton(const ui::ControlDecl& decl, QWidget& client);
    void AddTimers(std::span<const ui::TimerDecl> timers);
    void DropWidgets();

    QtWindowSystem* system_;
    std::string name_; // the form's
    ui::FormEvents* events_;
    QPointer<FormWidget> form_;
    std::map<std::string, std::unique_ptr<QtControl>, std::less<>> controls_;
    QtControl unknown_{nullptr, false};
};

} // namespace larkmoor
