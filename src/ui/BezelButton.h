#pragma once

#include <QPushButton>

namespace qr {

// A push button in the textured-square style: a light, slightly graded face with a thin frame and
// small rounded corners. Titles may span two lines.
class BezelButton : public QPushButton {
    Q_OBJECT
public:
    explicit BezelButton(const QString& title, QWidget* parent = nullptr);
};

} // namespace qr
