#pragma once
// The longest time the event loop of this thread went without running, sampled by a timer that
// fires whenever the loop runs (every 5 ms when it is free).

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

namespace patrimonio::test {

class LoopWatch {
public:
    LoopWatch() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (clock_.isValid()) {
                longest_ = std::max(longest_, clock_.restart());
            } else {
                clock_.start();
            }
        });
        timer_.start(5);
    }
    qint64 longestMs() const { return longest_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
};

}  // namespace patrimonio::test
