#include "core/Amounts.h"

namespace patrimonio {

namespace {

QString decimal(double value, int decimals) {
    return QString::number(value, 'f', decimals).replace(u'.', u',');
}

}  // namespace

QString sizeText(std::int64_t bytes) {
    constexpr double kMb = 1024.0 * 1024.0;
    if (bytes < 1024 * 1024) return QStringLiteral("%1 KB").arg((bytes + 1023) / 1024);
    if (bytes < 1024LL * 1024 * 1024) {
        return decimal(static_cast<double>(bytes) / kMb, 1) + QStringLiteral(" MB");
    }
    return decimal(static_cast<double>(bytes) / (kMb * 1024.0), 1) + QStringLiteral(" GB");
}

QString durationText(std::int64_t milliseconds) {
    if (milliseconds < 0) milliseconds = 0;
    // Tenths of a second below a minute; whole seconds, then whole minutes, above.
    if (milliseconds < 59950) return decimal(milliseconds / 1000.0, 1) + QStringLiteral(" s");
    const std::int64_t seconds = (milliseconds + 500) / 1000;
    if (seconds < 3600) {
        return QStringLiteral("%1 min %2 s")
            .arg(seconds / 60)
            .arg(static_cast<qlonglong>(seconds % 60), 2, 10, QChar(u'0'));
    }
    const std::int64_t minutes = (seconds + 30) / 60;
    return QStringLiteral("%1 h %2 min")
        .arg(minutes / 60)
        .arg(static_cast<qlonglong>(minutes % 60), 2, 10, QChar(u'0'));
}

QString rowRateText(std::int64_t count, std::int64_t milliseconds) {
    // Below a tenth of a second the clock says more about the machine than about the step.
    if (milliseconds < 100) return QStringLiteral("-");
    const double perSecond =
        static_cast<double>(count) * 1000.0 / static_cast<double>(milliseconds);
    return QStringLiteral("%1 linhas/s").arg(static_cast<std::int64_t>(perSecond + 0.5));
}

}  // namespace patrimonio
