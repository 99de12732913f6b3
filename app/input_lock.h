#pragma once

#include "app/design.h"

#include <QObject>
#include <QString>

#include <functional>

// While an evaluation runs the window repaints but takes no input, so that
// nothing can change the fields or start a second evaluation. Escape there
// cancels. Assistive technologies set texts and toggle buttons directly,
// past any event: what they change is put back.
class InputLock : public QObject {
    Q_OBJECT

public:
    InputLock(QWidget* window, const Controls& controls, std::function<void()> cancel);
    ~InputLock() override;

    void engage();
    void release();
    bool engaged() const { return engaged_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void putBack();

    QWidget* window_;
    Controls ui_;
    std::function<void()> cancel_;
    bool engaged_ = false;
    struct Held {
        QString text1, text2;
        bool first = true; // Option1 selected, else Option2
    } held_;
};
