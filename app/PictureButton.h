#pragma once
// A push button that shows its picture above a word-wrapped caption, both centred; the run
// button's caption is a whole sentence and would not fit on one line.

#include <QPushButton>

namespace patrimonio {

class PictureButton : public QPushButton {
    Q_OBJECT
public:
    explicit PictureButton(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace patrimonio
