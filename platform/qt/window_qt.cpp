#include "platform/qt/window_qt.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <map>
#include <utility>

namespace larkmoor {

namespace {

QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

int Px(int twips) {
    return ui::TwipsToPixels(twips, kLayoutDpi);
}

QColor ToQColor(ui::Colour colour) {
    return QColor(ui::Red(colour), ui::Green(colour), ui::Blue(colour));
}

// Declared colours replace the palette's; kSystemColour keeps it.
void ApplyColours(QWidget& widget, ui::Colour fore, ui::Colour back) {
    if (fore == ui::kSystemColour && back == ui::kSystemColour)
        return;
    QPalette palette = widget.palette();
    if (fore != ui::kSystemColour)
        palette.setColor(widget.foregroundRole(), ToQColor(fore));
    if (back != ui::kSystemColour) {
        palette.setColor(widget.backgroundRole(), ToQColor(back));
        widget.setAutoFillBackground(true);
    }
    widget.setPalette(palette);
}

Qt::WindowFlags FlagsFor(ui::Frame frame) {
    const Qt::WindowFlags common = Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (frame == ui::Frame::Dialog)
        return Qt::Dialog | common;
    return Qt::Window | common | Qt::WindowMinimizeButtonHint;
}

// The top-level widget of a form. It reports clicks, ticks and its frame's close to its window
// while that window owns it, and gives Enter and Escape to the default and cancel buttons.
class FormWidget : public QWidget {
  public:
    explicit FormWidget(ui::Frame frame) : QWidget(nullptr, FlagsFor(frame)) {}

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

} // namespace

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
    ui::FormEvents* events_;
    QPointer<FormWidget> form_;
    std::map<std::string, std::unique_ptr<QtControl>, std::less<>> controls_;
    QtControl unknown_{nullptr, false};
};

// --- FormWidget ---

void FormWidget::Click(const std::string& name) {
    if (owner && owner->Events())
        owner->Events()->Click(name);
}

void FormWidget::Tick(const std::string& name) {
    if (owner && owner->Events())
        owner->Events()->Timer(name);
}

void FormWidget::closeEvent(QCloseEvent* event) {
    if (owner)
        owner->Close();
    event->accept();
}

void FormWidget::keyPressEvent(QKeyEvent* event) {
    QPushButton* target = nullptr;
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        target = defaultButton;
    else if (event->key() == Qt::Key_Escape)
        target = cancelButton;
    if (target && target->isVisible() && target->isEnabled()) {
        target->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

// --- QtControl ---

void QtControl::SetText(std::string_view text) {
    if (!widget_ || !hasText_)
        return;
    if (auto* label = qobject_cast<QLabel*>(widget_))
        label->setText(ToQString(text));
    else if (auto* button = qobject_cast<QAbstractButton*>(widget_))
        button->setText(ToQString(text));
}

std::string QtControl::Text() const {
    if (!widget_ || !hasText_)
        return {};
    if (auto* label = qobject_cast<QLabel*>(widget_))
        return label->text().toStdString();
    if (auto* button = qobject_cast<QAbstractButton*>(widget_))
        return button->text().toStdString();
    return {};
}

void QtControl::SetVisible(bool visible) {
    if (widget_)
        widget_->setVisible(visible);
}

// --- QtWindow ---

QtWindow::QtWindow(QtWindowSystem& system, const ui::FormDecl& form, ui::FormEvents& events)
    : system_(&system), events_(&events), form_(new FormWidget(form.frame)) {
    form_->owner = this;
    form_->setObjectName(ToQString(form.name));
    form_->setWindowTitle(ToQString(form.caption));
    form_->setWindowIcon(system.Icon());

    auto* layout = new QVBoxLayout(form_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize); // the window is the client plus its menu
    if (!form.menu.empty())
        layout->setMenuBar(MakeMenuBar(form.menu));

    auto* client = new QWidget;
    client->setObjectName(kClientAreaName);
    client->setFixedSize(Px(form.clientWidth), Px(form.clientHeight));
    ApplyColours(*client, ui::kSystemColour, form.backColour);
    layout->addWidget(client);

    AddControls(form.controls, *client);
    AddTimers(form.timers);
}

QMenuBar* QtWindow::MakeMenuBar(std::span<const ui::MenuDecl> entries) {
    auto* bar = new QMenuBar(form_);
    bar->setNativeMenuBar(false); // in the window, above the client area, on every desktop
    AddMenuEntries(*bar, entries);
    return bar;
}

// `Bar` is a QMenuBar or a QMenu: entries with items become drop-downs, others commands.
template <typename Bar>
void QtWindow::AddMenuEntries(Bar& bar, std::span<const ui::MenuDecl> entries) {
    for (const auto& entry : entries) {
        if (!entry.items.empty()) {
            QMenu* menu = bar.addMenu(ToQString(entry.caption));
            menu->setObjectName(ToQString(entry.name));
            AddMenuEntries(*menu, entry.items);
            continue;
        }
        QAction* action = bar.addAction(ToQString(entry.caption));
        action->setObjectName(ToQString(entry.name));
        FormWidget* form = form_;
        QObject::connect(action, &QAction::triggered, form,
                         [form, name = std::string(entry.name)] { form->Click(name); });
    }
}

void QtWindow::AddControls(std::span<const ui::ControlDecl> decls, QWidget& client) {
    std::vector<std::pair<int, QWidget*>> tabStops;
    for (const auto& decl : decls) {
        QWidget* widget = MakeControl(decl, client);
        widget->setObjectName(ToQString(decl.name));
        widget->setGeometry(Px(decl.left), Px(decl.top), Px(decl.width), Px(decl.height));
        ApplyColours(*widget, decl.foreColour, decl.backColour);
        widget->setVisible(decl.visible);
        if (decl.tabIndex >= 0 && (widget->focusPolicy() & Qt::TabFocus))
            tabStops.emplace_back(decl.tabIndex, widget);
        const bool hasText = decl.kind != ui::ControlKind::Picture;
        controls_.emplace(decl.name, std::make_unique<QtControl>(widget, hasText));
    }

    // Tab follows tabIndex; the first stop has the focus when the window opens.
    std::ranges::sort(tabStops, {}, &std::pair<int, QWidget*>::first);
    for (std::size_t i = 1; i < tabStops.size(); ++i)
        QWidget::setTabOrder(tabStops[i - 1].second, tabStops[i].second);
    if (!tabStops.empty())
        tabStops.front().second->setFocus();
}

QWidget* QtWindow::MakeControl(const ui::ControlDecl& decl, QWidget& client) {
    if (decl.kind == ui::ControlKind::Button)
        return MakeButton(decl, client);

    auto* label = new QLabel(&client);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (decl.kind == ui::ControlKind::Picture) {
        label->setPixmap(system_->Icon().pixmap(32, 32));
        return label;
    }
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(decl.wordWrap);
    label->setText(ToQString(decl.text));
    return label;
}

QPushButton* QtWindow::MakeButton(const ui::ControlDecl& decl, QWidget& client) {
    auto* button = new QPushButton(ToQString(decl.text), &client);
    button->setAutoDefault(true); // Enter presses the focused button, as in a dialog
    if (decl.roles & ui::kDefault) {
        button->setDefault(true);
        form_->defaultButton = button;
    }
    if (decl.roles & ui::kCancel)
        form_->cancelButton = button;
    FormWidget* form = form_;
    QObject::connect(button, &QPushButton::clicked, form,
                     [form, name = std::string(decl.name)] { form->Click(name); });
    return button;
}

void QtWindow::AddTimers(std::span<const ui::TimerDecl> timers) {
    for (const auto& decl : timers) {
        auto* timer = new QTimer(form_);
        timer->setObjectName(ToQString(decl.name));
        timer->setTimerType(Qt::PreciseTimer); // coarse timers may be 5% late on short periods
        timer->setInterval(decl.intervalMs);
        FormWidget* form = form_;
        QObject::connect(timer, &QTimer::timeout, timer,
                         [form, name = std::string(decl.name)] { form->Tick(name); });
        if (decl.enabled)
            timer->start();
    }
}

ui::Control& QtWindow::Find(std::string_view name) {
    const auto it = controls_.find(name);
    if (it != controls_.end())
        return *it->second;
    qWarning("larkmoor: no control named '%.*s'", static_cast<int>(name.size()), name.data());
    return unknown_;
}

void QtWindow::SetCaption(std::string_view caption) {
    if (form_)
        form_->setWindowTitle(ToQString(caption));
}

std::string QtWindow::Caption() const {
    return form_ ? form_->windowTitle().toStdString() : std::string();
}

void QtWindow::Show() {
    if (!form_)
        return;
    form_->setWindowState(form_->windowState() & ~Qt::WindowMinimized);
    form_->show();
    form_->raise();
    form_->activateWindow();
}

void QtWindow::Unload(bool notify) {
    ui::FormEvents* events = std::exchange(events_, nullptr);
    if (!events)
        return;
    DropWidgets();
    QtWindowSystem* system = system_;
    system->Forget(this);
    if (notify)
        events->Unload(); // may destroy this object
    system->QuitIfNoWindows();
}

// Widgets go later, as this may run inside one of their own event handlers.
void QtWindow::DropWidgets() {
    for (auto& [name, control] : controls_)
        control->Detach();
    if (!form_)
        return;
    form_->owner = nullptr;
    for (QTimer* timer : form_->findChildren<QTimer*>())
        timer->stop();
    form_->hide();
    form_->deleteLater();
    form_ = nullptr;
}

// --- QtWindowSystem ---

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
    if (ended_ || open_.empty())
        return 0;
    running_ = true;
    const int code = QApplication::exec();
    running_ = false;
    return code;
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
