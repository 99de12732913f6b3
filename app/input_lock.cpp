#include "app/input_lock.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>

namespace {

bool isInput(const QEvent& event)
{
    switch (event.type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

} // namespace

InputLock::InputLock(QWidget* window, const Controls& controls, std::function<void()> cancel)
    : QObject(window), window_(window), ui_(controls), cancel_(std::move(cancel))
{
    for (QLineEdit* field : {ui_.Text1, ui_.Text2})
        connect(field, &QLineEdit::textChanged, this, &InputLock::putBack);
    for (QRadioButton* option : {ui_.Option1, ui_.Option2})
        connect(option, &QAbstractButton::toggled, this, &InputLock::putBack);
}

InputLock::~InputLock()
{
    release();
}

void InputLock::engage()
{
    held_ = {ui_.Text1->text(), ui_.Text2->text(), ui_.Option1->isChecked()};
    engaged_ = true;
    qApp->installEventFilter(this);
}

void InputLock::release()
{
    engaged_ = false;
    qApp->removeEventFilter(this);
}

void InputLock::putBack()
{
    if (!engaged_)
        return;
    const QSignalBlocker blockers[] = {QSignalBlocker(ui_.Text1), QSignalBlocker(ui_.Text2),
                                       QSignalBlocker(ui_.Option1), QSignalBlocker(ui_.Option2)};
    ui_.Text1->setText(held_.text1);
    ui_.Text2->setText(held_.text2);
    (held_.first ? ui_.Option1 : ui_.Option2)->setChecked(true);
}

bool InputLock::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!engaged_ || !isInput(*event) || !widget || widget->window() != window_)
        return false;
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
        cancel_();
    return true;
}
