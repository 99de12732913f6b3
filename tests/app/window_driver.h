#pragma once

#include "app/evaluator.h"
#include "app/form1.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <memory>

// What Label4 shows after a click on Calcolo that gives no result, and
// after a click on an option.
inline const QString kSixSpaces = QStringLiteral("      ");
inline const QString kTwoSpaces = QStringLiteral("  ");

// What the window tests do to the real window: find its controls, type and
// click as a person would, and see whether an evaluation runs or a report
// is up.
class WindowDriver {
protected:
    std::unique_ptr<Form1> form;

    template <typename T> T* child(const char* name) const
    {
        auto* widget = form->findChild<T*>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no control %s", name);
        return widget;
    }
    QLineEdit* text1() const { return child<QLineEdit>("Text1"); }
    QLineEdit* text2() const { return child<QLineEdit>("Text2"); }
    QRadioButton* option1() const { return child<QRadioButton>("Option1"); }
    QRadioButton* option2() const { return child<QRadioButton>("Option2"); }
    QPushButton* calcolo() const { return child<QPushButton>("Command1"); }
    QString label4() const { return child<QLabel>("Label4")->text(); }
    QMessageBox* report() const { return form->findChild<QMessageBox*>(QStringLiteral("report")); }
    QProgressDialog* progress() const { return form->findChild<QProgressDialog*>(QStringLiteral("progress")); }
    // The window's own evaluator runs while a calculation is under way.
    bool busy() const
    {
        const auto* evaluator = form->findChild<Evaluator*>(QString(), Qt::FindDirectChildrenOnly);
        return evaluator && evaluator->running();
    }

    static void click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }
    static void typeInto(QLineEdit* field, const QString& keys)
    {
        field->setFocus();
        QTest::keyClicks(field, keys);
    }
    void fill(const QString& limit, const QString& argument) const
    {
        for (QLineEdit* field : {text1(), text2()}) {
            field->clear();
            typeInto(field, field == text1() ? limit : argument);
        }
    }
    // Through the field's own context menu, as a person pastes.
    static void pasteInto(QLineEdit* field, const QString& text)
    {
        QGuiApplication::clipboard()->setText(text);
        std::unique_ptr<QMenu> menu(field->createStandardContextMenu());
        for (QAction* action : menu->actions())
            if (action->text().remove(QLatin1Char('&')).startsWith(QStringLiteral("Incolla")))
                action->trigger();
    }
};
