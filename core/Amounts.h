#pragma once
// Sizes, durations and rates as the log view says them, in the operator's Portuguese: a
// decimal comma, units a reader of a report knows at a glance.

#include <QString>
#include <cstdint>

namespace patrimonio {

// "96 KB", "412,5 MB", "2,3 GB".
QString sizeText(std::int64_t bytes);

// "0,4 s", "12,3 s", "2 min 05 s", "1 h 02 min".
QString durationText(std::int64_t milliseconds);

// "1234 linhas/s" for `count` rows in `milliseconds`; "-" when the time is too short to say.
QString rowRateText(std::int64_t count, std::int64_t milliseconds);

}  // namespace patrimonio
