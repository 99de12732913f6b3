#include "app/design.h"

#include "app/result_label.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <limits>

namespace {

enum class Type { Option, Field, Button, Caption, Picture, Result };
enum class Face { SansSerif, Verdana };

struct Control {
    Type type;
    const char* name;
    const char* caption; // UTF-8
    Face face;
    double points;
    int left, top, width, height; // twips
    bool blue = false;
};

// In the design's order, which is also the order they are stacked in.
constexpr Control kDesign[] = {
    {Type::Option, "Option2", "Integrale II° ordine", Face::SansSerif, 18, 240, 3720, 3735, 495},
    {Type::Option, "Option1", "Integrale  I° ordine", Face::SansSerif, 18, 240, 2760, 4215, 495},
    {Type::Field, "Text2", "", Face::SansSerif, 13.5, 240, 8280, 1815, 615},
    {Type::Field, "Text1", "", Face::SansSerif, 13.5, 240, 5640, 1815, 615},
    {Type::Button, "Command1", "Calcolo", Face::SansSerif, 13.5, 9120, 3600, 3255, 735},
    {Type::Caption, "Label9_1", "TextBox2", Face::SansSerif, 13.5, 240, 7080, 1335, 360},
    {Type::Caption, "Label9_0", "TextBox1", Face::SansSerif, 13.5, 240, 4680, 1335, 360},
    {Type::Caption, "Label8", "selettore", Face::SansSerif, 13.5, 240, 2280, 1215, 360},
    {Type::Caption, "Label7", "Integrale", Face::SansSerif, 13.5, 12120, 5040, 1230, 360, true},
    {Type::Picture, "Image1", "", Face::SansSerif, 13.5, 7200, 4680, 3855, 2415},
    {Type::Caption, "Label6", "Argomento in gradi sessagesimali", Face::SansSerif, 18, 240, 7560, 5955, 435},
    {Type::Caption, "Label5", "Limite  sup. d 'integr. in radianti", Face::SansSerif, 18, 240, 5040, 5475, 435},
    {Type::Result, "Label4", "", Face::SansSerif, 18, 11160, 5640, 3375, 615, true},
    {Type::Caption, "Label1", "QUADRILO", Face::Verdana, 72, 3480, 120, 7440, 1740, true},
    {Type::Caption, "Label3", "Quadrilo", Face::SansSerif, 9.75, 13680, 8040, 1020, 240},
    {Type::Caption, "Label2", "Per il calcolo rapido  degli integrali ellittici", Face::Verdana, 18, 2948, 1920,
     8505, 435},
};

// The design is in twips; at 96 dpi one logical pixel is 15 twips.
QRect fromTwips(const Control& c)
{
    auto px = [](int twips) { return qRound(twips / 15.0); };
    return {px(c.left), px(c.top), px(c.width), px(c.height)};
}

// The design's faces first, then the nearest free faces, which the package
// depends on: Liberation Sans keeps MS Sans Serif's metrics, and DejaVu Sans
// follows Verdana's design.
QFont designFont(Face face, qreal points)
{
    QFont font;
    font.setFamilies(face == Face::Verdana
                         ? QStringList{QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")}
                         : QStringList{QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans")});
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

QWidget* make(const Control& c, QWidget* form)
{
    const QString caption = QString::fromUtf8(c.caption);
    switch (c.type) {
    case Type::Option:
        return new QRadioButton(caption, form);
    case Type::Field: {
        auto* field = new QLineEdit(form);
        field->setAcceptDrops(false);
        field->setMaxLength(std::numeric_limits<int>::max()); // Qt's default keeps 32,767 characters
        return field;
    }
    case Type::Button: {
        auto* button = new QPushButton(caption, form);
        button->setAutoDefault(false);
        return button;
    }
    case Type::Picture: {
        auto* picture = new QLabel(form);
        picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        picture->setPixmap(QPixmap(QStringLiteral(":/formula.png")));
        picture->setAccessibleName(QStringLiteral("Formula"));
        picture->setAccessibleDescription(
            QStringLiteral("Integrale da 0 a \u03C6 di f(\u03B1; \u03B8) d\u03B8, "
                           "uguale al risultato scritto alla sua destra"));
        return picture;
    }
    case Type::Result: {
        auto* result = new ResultLabel(form);
        // Centred in its box, the result sits level with the formula's "=".
        result->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        return result;
    }
    case Type::Caption:
        break;
    }
    return new QLabel(caption, form);
}

template <typename T> T* find(QWidget* form, const char* name)
{
    return form->findChild<T*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
}

} // namespace

Controls buildDesign(QWidget* form)
{
    for (const Control& c : kDesign) {
        QWidget* widget = make(c, form);
        widget->setObjectName(QString::fromLatin1(c.name));
        if (c.type != Type::Picture)
            widget->setFont(designFont(c.face, c.points));
        widget->setGeometry(fromTwips(c));
        if (c.type == Type::Caption)
            widget->adjustSize();
        if (c.blue) {
            QPalette palette = widget->palette();
            palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
            widget->setPalette(palette);
        }
    }
    Controls ui;
    ui.Option2 = find<QRadioButton>(form, "Option2");
    ui.Option1 = find<QRadioButton>(form, "Option1");
    ui.Text2 = find<QLineEdit>(form, "Text2");
    ui.Text1 = find<QLineEdit>(form, "Text1");
    ui.Command1 = find<QPushButton>(form, "Command1");
    ui.Label9 = {find<QLabel>(form, "Label9_0"), find<QLabel>(form, "Label9_1")};
    ui.Label8 = find<QLabel>(form, "Label8");
    ui.Label7 = find<QLabel>(form, "Label7");
    ui.Image1 = find<QLabel>(form, "Image1");
    ui.Label6 = find<QLabel>(form, "Label6");
    ui.Label5 = find<QLabel>(form, "Label5");
    ui.Label4 = find<ResultLabel>(form, "Label4");
    ui.Label1 = find<QLabel>(form, "Label1");
    ui.Label3 = find<QLabel>(form, "Label3");
    ui.Label2 = find<QLabel>(form, "Label2");

    // A screen reader names each field after the caption above it.
    ui.Label5->setBuddy(ui.Text1);
    ui.Label6->setBuddy(ui.Text2);
    ui.Label7->setBuddy(ui.Label4);
    QWidget::setTabOrder(ui.Command1, ui.Text1);
    QWidget::setTabOrder(ui.Text1, ui.Text2);
    QWidget::setTabOrder(ui.Text2, ui.Option1);
    QWidget::setTabOrder(ui.Option1, ui.Option2);
    ui.Command1->setFocus();
    return ui;
}
