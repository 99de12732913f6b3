#include "app/key_filter.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>

namespace {

int ansiCode(QChar c)
{
    return c.unicode() <= 0xFF ? c.unicode() : '?';
}

// The ANSI code of the character a key press produces, or -1 for a key that
// produces none.
int characterCode(const QKeyEvent& key)
{
    switch (key.key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
        return -1;
    default:
        break;
    }
    const QString text = key.text();
    return text.isEmpty() ? -1 : ansiCode(text.front());
}

} // namespace

KeyFilter::KeyFilter(QLineEdit* field, KeyPress keyPress)
    : QObject(field), field_(field), keyPress_(std::move(keyPress))
{
    field->installEventFilter(this);
}

bool KeyFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != field_)
        return false;
    if (event->type() == QEvent::KeyPress) {
        int keyAscii = characterCode(*static_cast<QKeyEvent*>(event));
        if (keyAscii < 0)
            return false;
        keyPress_(keyAscii);
        return keyAscii == 0;
    }
    if (event->type() == QEvent::InputMethod) {
        // Text from an input method is typed text too: each character of
        // the commit goes through the filter, and what it cancels is dropped.
        auto* input = static_cast<QInputMethodEvent*>(event);
        QString kept;
        for (const QChar c : input->commitString()) {
            int keyAscii = ansiCode(c);
            keyPress_(keyAscii);
            if (keyAscii != 0)
                kept.append(c);
        }
        if (kept == input->commitString())
            return false;
        QInputMethodEvent filtered(input->preeditString(), input->attributes());
        filtered.setCommitString(kept, input->replacementStart(), input->replacementLength());
        QApplication::sendEvent(field_, &filtered);
        return true;
    }
    return false;
}
