#include "Gauge.h"

#include <QPainter>

namespace patrimonio {

Gauge::Gauge(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

template <typename Change>
void Gauge::changeModel(Change change) {
    const int before = model_.percent();
    change(model_);
    if (model_.percent() != before) {
        ++repaintRequests_;
        update();
    }
}

void Gauge::setMinimum(int value) {
    changeModel([value](GaugeModel& m) { m.setMinimum(value); });
}

void Gauge::setMaximum(int value) {
    changeModel([value](GaugeModel& m) { m.setMaximum(value); });
}

void Gauge::setProgress(int value) {
    changeModel([value](GaugeModel& m) { m.setProgress(value); });
}

void Gauge::setModel(const GaugeModel& model) {
    changeModel([&model](GaugeModel& m) { m = model; });
}

void Gauge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect outer = rect();
    const QRect inner = outer.adjusted(1, 1, -1, -1);

    p.fillRect(outer, Qt::black);
    p.fillRect(inner, Qt::white);
    const int filled = model_.filledWidth(inner.width());
    const QRect bar(inner.left(), inner.top(), filled, inner.height());
    if (filled > 0) p.fillRect(bar, kBarColor);

    // The text is drawn twice, each time clipped to one part, in the colour opposite to what
    // lies beneath: black over the white part, white over the bar.
    const QString text = QStringLiteral("%1%").arg(model_.percent());
    p.setFont(font());
    p.setClipRect(inner);
    p.setPen(Qt::black);
    p.drawText(inner, Qt::AlignCenter, text);
    if (filled > 0) {
        p.setClipRect(bar);
        p.setPen(Qt::white);
        p.drawText(inner, Qt::AlignCenter, text);
    }
}

}  // namespace patrimonio
