#pragma once
// The arithmetic of the progress gauge, kept apart from its painting so that the window's
// widget and the test host follow exactly the same rules.

namespace patrimonio {

class GaugeModel {
public:
    int minimum() const { return min_; }
    int maximum() const { return max_; }
    int progress() const { return progress_; }

    // Raising the minimum above the progress drags the progress up with it.
    void setMinimum(int value);
    // Lowering the maximum below the progress drags the progress down with it.
    void setMaximum(int value);
    // Clamped into [minimum, maximum].
    void setProgress(int value);

    // Whole percentage, truncated towards zero; 0 when maximum equals minimum.
    int percent() const;
    // Width of the filled part for an inner width in pixels.
    int filledWidth(int innerWidth) const;

private:
    int min_ = 0;
    int max_ = 100;
    int progress_ = 0;
};

}  // namespace patrimonio
