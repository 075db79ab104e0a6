#pragma once
// The progress gauge of the window: a green bar on white with the whole percentage centred over
// it, readable over both the filled and the empty part.

#include <QWidget>

#include "core/GaugeModel.h"

namespace patrimonio {

class Gauge : public QWidget {
    Q_OBJECT
public:
    explicit Gauge(QWidget* parent = nullptr);

    int minimum() const { return model_.minimum(); }
    int maximum() const { return model_.maximum(); }
    int progress() const { return model_.progress(); }
    int percent() const { return model_.percent(); }

    void setMinimum(int value);
    void setMaximum(int value);
    void setProgress(int value);
    // Takes minimum, maximum and progress at once (what a run reported since the last frame).
    void setModel(const GaugeModel& model);
    const GaugeModel& model() const { return model_; }

    // How many repaints the gauge has asked for; a run moves the progress once per row, so
    // asking only when the shown percentage changes keeps long steps cheap.
    int repaintRequests() const { return repaintRequests_; }

    static inline const QColor kBarColor{0, 128, 0};

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    template <typename Change>
    void changeModel(Change change);

    GaugeModel model_;
    int repaintRequests_ = 0;
};

}  // namespace patrimonio
