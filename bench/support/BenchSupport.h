#pragma once
// What the benchmarks measure with and feed on: memory and CPU time read from the system
// (Linux), the private server's CPU time and camera-like photos.

#include <QByteArray>

namespace patrimonio::bench {

// A "Vm…:" line of /proc/self/status in KiB ("VmHWM:", "VmRSS:"), or -1.
long procStatusKiB(const char* key);
// Peak resident memory since the last resetPeak().
inline long peakKiB() {
    return procStatusKiB("VmHWM:");
}
// Resident memory now.
inline long residentKiB() {
    return procStatusKiB("VmRSS:");
}
// Gives freed memory back and starts the peak afresh from the resident memory now.
void resetPeak();

// CPU time of the whole process, and of the calling thread alone, in ms. The machine is shared:
// time spent waiting for a core is not the measured code's cost.
double processCpuMs();
double threadCpuMs();
// Monotonic wall time in ms.
double wallMs();

// CPU time of the private Firebird server in ms, or -1 when it cannot be read. The server is
// shared: what other clients make it do meanwhile counts too, so this is an upper bound.
double serverCpuMs();

// A camera-like JPEG at quality 88: smooth gradients with fine noise, so the entropy coder has
// real work.
QByteArray cameraPhoto(int width, int height, unsigned seed);

}  // namespace patrimonio::bench
