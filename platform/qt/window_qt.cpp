#include "platform/qt/widgets_qt.h"

#include <QLabel>
#include <QMenuBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace larkmoor {

QtWindow::QtWindow(QtWindowSystem& system, const ui::FormDecl& form, ui::FormEvents& events)
    : system_(&system), name_(form.name), events_(&events), form_(new FormWidget(form.frame)) {
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
    label->setText(decl.wordWrap ? WrappedText(decl.text) : ToQString(decl.text));
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
    if (system_)
        system_->Fail(ui::UndeclaredControl(name_, name));
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

} // namespace larkmoor
