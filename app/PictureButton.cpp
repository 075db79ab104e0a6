#include "PictureButton.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace patrimonio {

namespace {
constexpr int kSpacing = 6;
constexpr int kTextMargin = 6;
}  // namespace

PictureButton::PictureButton(QWidget* parent) : QPushButton(parent) {}

void PictureButton::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionButton opt;
    initStyleOption(&opt);
    const QString caption = opt.text;
    // The style draws the frame and focus only; the picture and caption are laid out here.
    opt.text.clear();
    opt.icon = QIcon();
    p.drawControl(QStyle::CE_PushButton, opt);

    QRect content = style()->subElementRect(QStyle::SE_PushButtonContents, &opt, this);
    if (isDown()) content.translate(1, 1);
    const QRect textArea = content.adjusted(kTextMargin, 0, -kTextMargin, 0);
    const int flags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap;
    const QSize picture = icon().isNull() ? QSize() : iconSize();
    const int textHeight =
        caption.isEmpty() ? 0 : fontMetrics().boundingRect(textArea, flags, caption).height();
    const int gap = picture.isEmpty() || caption.isEmpty() ? 0 : kSpacing;
    const int top = content.top() + (content.height() - picture.height() - gap - textHeight) / 2;

    if (!picture.isEmpty()) {
        const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
        const QPixmap pix = icon().pixmap(picture, devicePixelRatioF(), mode);
        p.drawPixmap(content.left() + (content.width() - picture.width()) / 2, top, pix);
    }
    if (!caption.isEmpty()) {
        const QRect textRect(textArea.left(), top + picture.height() + gap, textArea.width(),
                             textHeight);
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                 QPalette::ButtonText));
        p.drawText(textRect, flags, caption);
    }
}

}  // namespace patrimonio
