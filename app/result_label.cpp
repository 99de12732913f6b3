#include "app/result_label.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>

namespace {

const QString kCopy = QStringLiteral("Copia");

// The caption as the name, whatever it is: blank included. Qt's own label
// interface would fall back on the caption of the label that names it.
// Beside the widget's own actions, "Copia" copies the result; while the
// caption is blank it is not offered, as the menu's entry is greyed out.
class ResultAccessible : public QAccessibleWidget {
public:
    explicit ResultAccessible(ResultLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            return label()->text();
        case QAccessible::Description:
            return label()->accessibleDescription();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (label()->hasResult())
            names.append(kCopy);
        return names;
    }
    void doAction(const QString& action) override
    {
        if (action == kCopy)
            label()->copyResult();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    const ResultLabel* label() const { return static_cast<const ResultLabel*>(object()); }
};

class AnnouncementAccessible : public QAccessibleObject {
public:
    explicit AnnouncementAccessible(Announcer* announcer) : QAccessibleObject(announcer) {}

    QAccessibleInterface* parent() const override
    {
        return QAccessible::queryAccessibleInterface(object()->parent());
    }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name ? static_cast<const Announcer*>(object())->line() : QString();
    }
    QAccessible::Role role() const override { return QAccessible::Notification; }
    QAccessible::State state() const override { return {}; }
};

// A frame, whose last child is its announcer: a screen reader finds every
// object it is told of in the tree.
class WindowAccessible : public QAccessibleWidget {
public:
    explicit WindowAccessible(QWidget* window) : QAccessibleWidget(window, QAccessible::Window) {}

    int childCount() const override { return QAccessibleWidget::childCount() + (announcer() ? 1 : 0); }
    QAccessibleInterface* child(int index) const override
    {
        if (Announcer* a = announcer(); a && index == QAccessibleWidget::childCount())
            return QAccessible::queryAccessibleInterface(a);
        return QAccessibleWidget::child(index);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (child && child->object() && child->object() == announcer())
            return QAccessibleWidget::childCount();
        return QAccessibleWidget::indexOfChild(child);
    }

private:
    Announcer* announcer() const { return object()->findChild<Announcer*>(QString(), Qt::FindDirectChildrenOnly); }
};

QAccessibleInterface* accessibleRole(const QString& className, QObject* object)
{
    if (className == QLatin1String("Form1"))
        return new WindowAccessible(static_cast<QWidget*>(object));
    if (className == QLatin1String("ResultLabel"))
        return new ResultAccessible(static_cast<ResultLabel*>(object));
    if (className == QLatin1String("Announcer"))
        return new AnnouncementAccessible(static_cast<Announcer*>(object));
    return nullptr;
}

} // namespace

ResultLabel::ResultLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setFocusPolicy(Qt::ClickFocus);
}

void ResultLabel::setAside(const QString& text)
{
    setToolTip(text);
    setAccessibleDescription(text);
}

void ResultLabel::copyResult() const
{
    if (hasResult())
        QGuiApplication::clipboard()->setText(text());
}

void ResultLabel::takeCopyKeysFrom(std::initializer_list<QWidget*> controls)
{
    for (QWidget* control : controls)
        control->installEventFilter(this);
}

bool ResultLabel::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        copyResult();
        return true;
    }
    return QLabel::eventFilter(watched, event);
}

void ResultLabel::contextMenuEvent(QContextMenuEvent* event)
{
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("resultMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* copying = menu->addAction(kCopy);
    copying->setEnabled(hasResult());
    // The whole caption, whatever part of it is selected.
    connect(copying, &QAction::triggered, this, &ResultLabel::copyResult);
    menu->popup(event->globalPos());
}

void ResultLabel::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        if (hasSelectedText())
            QGuiApplication::clipboard()->setText(selectedText());
        else
            copyResult();
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
}

void Announcer::announce(const QString& line)
{
    line_ = line;
    QAccessibleEvent renamed(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&renamed);
    QAccessibleEvent shown(this, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}

void installAccessibleRoles()
{
    QAccessible::installFactory(accessibleRole);
}
