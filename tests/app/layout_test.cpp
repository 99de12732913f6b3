#include "app/form1.h"
#include "app/startup.h"

#include <QAccessible>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QImageReader>
#include <QSet>
#include <QtTest>

#include <memory>

namespace {

const QString kBlue = QStringLiteral("blue");
const QString kSystem = QStringLiteral("system");

struct Control {
    const char* name;
    const char* caption;
    const char* face; // "sans" (MS Sans Serif) or "verdana"
    qreal points;
    QRect box;        // logical pixels
    bool fitsCaption;
    bool blue;
};

// The sixteen controls in the order the window creates them.
const Control kControls[] = {
    {"Option2", "Integrale II° ordine", "sans", 18, {16, 248, 249, 33}, false, false},
    {"Option1", "Integrale  I° ordine", "sans", 18, {16, 184, 281, 33}, false, false},
    {"Text2", "", "sans", 13.5, {16, 552, 121, 41}, false, false},
    {"Text1", "", "sans", 13.5, {16, 376, 121, 41}, false, false},
    {"Command1", "Calcolo", "sans", 13.5, {608, 240, 217, 49}, false, false},
    {"Label9_1", "TextBox2", "sans", 13.5, {16, 472, 89, 24}, true, false},
    {"Label9_0", "TextBox1", "sans", 13.5, {16, 312, 89, 24}, true, false},
    {"Label8", "selettore", "sans", 13.5, {16, 152, 81, 24}, true, false},
    {"Label7", "Integrale", "sans", 13.5, {808, 336, 82, 24}, true, true},
    {"Image1", "", nullptr, 0, {480, 312, 257, 161}, false, false},
    {"Label6", "Argomento in gradi sessagesimali", "sans", 18, {16, 504, 397, 29}, true, false},
    {"Label5", "Limite  sup. d 'integr. in radianti", "sans", 18, {16, 336, 365, 29}, true, false},
    {"Label4", "", "sans", 18, {744, 376, 225, 41}, false, true},
    {"Label1", "QUADRILO", "verdana", 72, {232, 8, 496, 116}, true, true},
    {"Label3", "Quadrilo", "sans", 9.75, {912, 536, 68, 16}, true, false},
    {"Label2", "Per il calcolo rapido  degli integrali ellittici", "verdana", 18,
     {197, 128, 567, 29}, true, false},
};

QString captionOf(QWidget* w)
{
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    return qobject_cast<QLineEdit*>(w)->text();
}

} // namespace

class LayoutTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Form1> form;

    QWidget* control(const char* name) const
    {
        auto* w = form->findChild<QWidget*>(QString::fromLatin1(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }

private slots:
    void initTestCase() { prepareApplication(); }
    void init()
    {
        form = std::make_unique<Form1>(",");
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    void cleanup() { form.reset(); }

    void controlsAreCreatedInOrder()
    {
        QStringList names;
        for (QObject* child : form->children())
            if (child->isWidgetType())
                names << child->objectName();
        QStringList expected;
        for (const Control& c : kControls)
            expected << QString::fromLatin1(c.name);
        QCOMPARE(names, expected);
    }

    void controls_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kControls)); ++i)
            QTest::newRow(kControls[i].name) << i;
    }

    // Fixed boxes as designed; labels that fit their caption keep their
    // corner and take the toolkit's measure of the caption.
    void controls()
    {
        QFETCH(int, row);
        const Control& c = kControls[row];
        QWidget* w = control(c.name);
        QCOMPARE(captionOf(w), QString::fromUtf8(c.caption));
        QVERIFY(!captionOf(w).contains(QLatin1Char('&')));
        QCOMPARE(w->pos(), c.box.topLeft());
        if (c.fitsCaption) {
            // The whole caption on one line, rounded up to whole pixels.
            const QFontMetricsF metrics(w->font());
            const qreal width = metrics.horizontalAdvance(captionOf(w));
            QVERIFY2(w->width() >= width && w->width() <= width + 2, qPrintable(QString::number(width)));
            QVERIFY2(w->height() >= metrics.height() && w->height() <= metrics.height() + 2,
                     qPrintable(QString::number(metrics.height())));
        } else {
            QCOMPARE(w->size(), c.box.size());
        }
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            QVERIFY2(button->sizeHint().width() <= w->width(), "caption cut off");
            QVERIFY2(button->sizeHint().height() <= w->height(), "caption cut off");
        }

        if (c.face) {
            const QFontInfo info(w->font());
            const QStringList faces = QString::fromLatin1(c.face) == QLatin1String("verdana")
                                          ? QStringList{"Verdana", "DejaVu Sans"}
                                          : QStringList{"MS Sans Serif", "Liberation Sans"};
            QVERIFY2(faces.contains(info.family()), qPrintable(info.family()));
            QVERIFY(info.bold());
            QVERIFY(!info.italic());
            QCOMPARE(w->font().pointSizeF(), c.points);
        }
        const QColor text = w->palette().color(QPalette::WindowText);
        QCOMPARE(text, c.blue ? QColor(0, 0, 255) : QApplication::palette(w).color(QPalette::WindowText));
    }

    void noTwoControlsOverlap()
    {
        const QList<QWidget*> all = form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        QCOMPARE(all.size(), 16);
        for (int i = 0; i < all.size(); ++i)
            for (int j = i + 1; j < all.size(); ++j)
                QVERIFY2(!all[i]->geometry().intersects(all[j]->geometry()),
                         qPrintable(all[i]->objectName() + " / " + all[j]->objectName()));
    }

    void theWindowShowsTheWholeLayoutWithEqualMargins()
    {
        if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) // the scaled run really is scaled
            QCOMPARE(form->devicePixelRatioF(), qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
        QRect used;
        for (QWidget* w : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            used |= w->geometry();
        QVERIFY(form->rect().contains(used));
        QCOMPARE(used.left(), 16);
        QCOMPARE(form->height() - used.bottom() - 1, 16);
    }

    void resizingNeverMovesAControl()
    {
        QHash<QWidget*, QRect> before;
        for (QWidget* w : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            before.insert(w, w->geometry());
        for (const QSize size : {QSize(300, 200), QSize(1400, 900), QSize(996, 609)}) {
            form->resize(size);
            QApplication::processEvents();
            for (auto it = before.cbegin(); it != before.cend(); ++it)
                QCOMPARE(it.key()->geometry(), it.value());
        }
        QVERIFY(form->findChildren<QScrollArea*>().isEmpty());
    }

    // A greyscale picture of its designed size, shown at that size.
    void theFormulaPicture()
    {
        auto* image = static_cast<QLabel*>(control("Image1"));
        QCOMPARE(image->pixmap().deviceIndependentSize(), QSizeF(257, 161));
        const QImage picture(QStringLiteral(":/formula.png"));
        QCOMPARE(picture.size(), QSize(257, 161));
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                QVERIFY(QColor(picture.pixel(x, y)).saturation() == 0);
    }

    // Read as any program would read it: three images with transparency,
    // one in black and white, two in the standard 16 colours.
    void theIcon()
    {
        QImageReader reader(QStringLiteral(":/quadrilo.ico"));
        QCOMPARE(reader.imageCount(), 3);
        const int sizes[3] = {32, 32, 16};
        QSet<QRgb> standard16;
        for (const QRgb c : {0x000000u, 0x800000u, 0x008000u, 0x808000u, 0x000080u, 0x800080u, 0x008080u,
                             0xc0c0c0u, 0x808080u, 0xff0000u, 0x00ff00u, 0xffff00u, 0x0000ffu, 0xff00ffu,
                             0x00ffffu, 0xffffffu})
            standard16.insert(c);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(reader.jumpToImage(i));
            const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(image.size(), QSize(sizes[i], sizes[i]));
            QSet<QRgb> colours;
            bool transparent = false;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QRgb pixel = image.pixel(x, y);
                    if (qAlpha(pixel) == 0)
                        transparent = true;
                    else
                        colours.insert(pixel & 0xffffff);
                }
            QVERIFY(transparent);
            if (i == 0)
                QVERIFY(colours.size() == 2 && colours.contains(0x000000) && colours.contains(0xffffff));
            else
                QVERIFY(standard16.contains(colours));
        }
        QVERIFY(!form->windowIcon().isNull());
    }

    void screenReadersNameEveryControl_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Text1") << "Text1" << "Limite  sup. d 'integr. in radianti";
        QTest::newRow("Text2") << "Text2" << "Argomento in gradi sessagesimali";
        QTest::newRow("Option1") << "Option1" << "Integrale  I° ordine";
        QTest::newRow("Option2") << "Option2" << "Integrale II° ordine";
        QTest::newRow("Label4") << "Label4" << "Integrale";
        QTest::newRow("Image1") << "Image1" << "Formula";
    }
    void screenReadersNameEveryControl()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(control(qPrintable(name)));
        QVERIFY(iface);
        QCOMPARE(iface->text(QAccessible::Name), expected);
    }

    void theFormulaIsDescribed()
    {
        QVERIFY(!control("Image1")->accessibleDescription().isEmpty());
    }

    void theToolkitSpeaksItalian()
    {
        auto* field = static_cast<QLineEdit*>(control("Text1"));
        std::unique_ptr<QMenu> menu(field->createStandardContextMenu());
        QStringList texts;
        for (QAction* action : menu->actions())
            texts << action->text().remove(QLatin1Char('&')).section(QLatin1Char('\t'), 0, 0);
        for (const char* word : {"Annulla", "Taglia", "Copia", "Incolla"})
            QVERIFY2(texts.contains(QString::fromLatin1(word)), qPrintable(texts.join(", ")));

        QMessageBox box(QMessageBox::Question, QString(), QString(),
                        QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes);
        QCOMPARE(box.button(QMessageBox::Cancel)->text().remove(QLatin1Char('&')), QStringLiteral("Annulla"));
        QCOMPARE(box.button(QMessageBox::Yes)->text().remove(QLatin1Char('&')), QStringLiteral("Sì"));
    }
};

QTEST_MAIN(LayoutTest)
#include "layout_test.moc"
