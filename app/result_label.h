#pragma once

#include <QLabel>
#include <QObject>
#include <QString>

#include <initializer_list>

// The result label. Its caption is copied whole from its Italian context
// menu ("Copia"), from its accessible action of the same name, or with the
// copy keys from the controls that takeCopyKeysFrom() names; once clicked,
// the copy keys copy what the mouse selected, or the whole caption. A blank
// caption copies nothing. It takes the focus from a click only, never from
// Tab. A screen reader hears the caption, exactly as shown, as its name, and
// what setAside() says as its description (the tooltip says the same).
class ResultLabel : public QLabel {
    Q_OBJECT

public:
    explicit ResultLabel(QWidget* parent = nullptr);

    void setAside(const QString& text);
    bool hasResult() const { return !text().trimmed().isEmpty(); }
    // The whole caption, as shown, unless it is blank.
    void copyResult() const;
    // The copy keys (Ctrl+C, Ctrl+Ins) pressed on any of `controls` copy
    // the result; their own handling of the keys is passed over.
    void takeCopyKeysFrom(std::initializer_list<QWidget*> controls);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Says a line to a screen reader without moving the focus: the line is the
// name of a notification that is shown each time, which screen readers
// speak wherever the focus is. It has no widget and nothing on screen.
class Announcer : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    void announce(const QString& line);
    const QString& line() const { return line_; }

private:
    QString line_;
};

// Gives the window the role of a frame, the result label and the
// announcer theirs. Call before any of them is first asked for.
void installAccessibleRoles();
