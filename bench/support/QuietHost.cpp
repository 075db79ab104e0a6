#include "QuietHost.h"

#include <cstdio>

namespace patrimonio::bench {

void QuietHost::waitResponsive(const std::function<bool(int)>& finished) {
    while (!finished(-1)) {
    }
}

void QuietHost::appendLogLine(const QString& line) {
    if (logLines_ == LogLines::Echoed) std::fprintf(stderr, "log: %s\n", qPrintable(line));
}

}  // namespace patrimonio::bench
