#pragma once

#include <array>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;
class ResultLabel;

// The window's sixteen controls, named as in its design.
struct Controls {
    QRadioButton* Option2 = nullptr;
    QRadioButton* Option1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text1 = nullptr;
    QPushButton* Command1 = nullptr;
    std::array<QLabel*, 2> Label9{};
    QLabel* Label8 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label5 = nullptr;
    ResultLabel* Label4 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label2 = nullptr;
};

// Makes the controls on `form` as the design places, names and captions
// them, with their fonts, colours, buddies and tab order; the focus on
// Command1. Their behaviour is the form's.
Controls buildDesign(QWidget* form);
