#include "platform/qt/widgets_qt.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>

namespace larkmoor {

namespace {

QColor ToQColor(ui::Colour colour) {
    return QColor(ui::Red(colour), ui::Green(colour), ui::Blue(colour));
}

Qt::WindowFlags FlagsFor(ui::Frame frame) {
    const Qt::WindowFlags common = Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (frame == ui::Frame::Dialog)
        return Qt::Dialog | common;
    return Qt::Window | common | Qt::WindowMinimizeButtonHint;
}

} // namespace

QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

namespace {
// Qt breaks lines wherever Unicode allows, also after the colon of "HH:54:30"; a word joiner
// after each punctuation mark inside a word keeps the word whole.
constexpr QChar kWordJoiner(0x2060);
} // namespace

QString WrappedText(std::string_view text) {
    QString wrapped = ToQString(text);
    for (qsizetype i = wrapped.size() - 2; i >= 0; --i)
        if (wrapped[i].isPunct() && !wrapped[i + 1].isSpace())
            wrapped.insert(i + 1, kWordJoiner);
    return wrapped;
}

int Px(int twips) {
    return ui::TwipsToPixels(twips, kLayoutDpi);
}

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

FormWidget::FormWidget(ui::Frame frame) : QWidget(nullptr, FlagsFor(frame)) {}

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
        label->setText(label->wordWrap() ? WrappedText(text) : ToQString(text));
    else if (auto* button = qobject_cast<QAbstractButton*>(widget_))
        button->setText(ToQString(text));
}

std::string QtControl::Text() const {
    if (!widget_ || !hasText_)
        return {};
    if (auto* label = qobject_cast<QLabel*>(widget_))
        return label->text().remove(kWordJoiner).toStdString();
    if (auto* button = qobject_cast<QAbstractButton*>(widget_))
        return button->text().toStdString();
    return {};
}

void QtControl::SetVisible(bool visible) {
    if (widget_)
        widget_->setVisible(visible);
}

} // namespace larkmoor
