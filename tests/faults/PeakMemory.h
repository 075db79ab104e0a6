#pragma once
// The peak resident memory of this process, reset on demand: Linux's VmHWM, which writing 5 to
// /proc/self/clear_refs brings back to the current size. Elsewhere the figures are unavailable.

#include <QFile>
#include <QString>

namespace patrimonio::test {

// False where the platform cannot reset the peak; tests then skip their memory checks.
inline bool resetPeakMemory() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (!f.open(QIODevice::WriteOnly)) return false;
    return f.write("5") == 1;
}

// Peak resident memory since the last reset, in KiB; -1 when unknown.
inline long long peakMemoryKiB() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Resident memory now, in KiB; -1 when unknown.
inline long long residentMemoryKiB() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

}  // namespace patrimonio::test
