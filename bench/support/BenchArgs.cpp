#include "BenchArgs.h"

#include <cstdlib>
#include <cstring>

namespace patrimonio::bench {

int Args::number(int position, int fallback) const {
    return position < argc_ ? std::atoi(argv_[position]) : fallback;
}

QString Args::text(int position) const {
    return position < argc_ ? QString::fromLocal8Bit(argv_[position]) : QString();
}

bool Args::is(int position, const char* word) const {
    return position < argc_ && std::strcmp(argv_[position], word) == 0;
}

}  // namespace patrimonio::bench
