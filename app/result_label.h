#pragma once

#include <QLabel>
#include <QObject>
#include <QString>

// The result label. Its caption is copied whole from its Italian context
// menu ("Copia") or, once clicked, with the copy keys; the mouse selects
// parts of it. It takes the focus from a click only, never from Tab. A
// screen reader hears the caption, exactly as shown, as its name, and what
// setAside() says as its description (the tooltip says the same).
class ResultLabel : public QLabel {
    Q_OBJECT

public:
    explicit ResultLabel(QWidget* parent = nullptr);

    void setAside(const QString& text);
    void copy() const;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
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
