#pragma once

#include <QObject>

#include <functional>

class QLineEdit;

// Hands every character typed into a field to its KeyPress event procedure,
// which may change it or cancel it (0), as the field's own key events and
// the commits of an input method bring them. Keys that type nothing (arrows,
// Home, End, Delete, and Tab, which moves the focus) never reach it.
class KeyFilter : public QObject {
    Q_OBJECT

public:
    using KeyPress = std::function<void(int& KeyAscii)>;

    KeyFilter(QLineEdit* field, KeyPress keyPress);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* field_;
    KeyPress keyPress_;
};
