#pragma once
// The status convention every step follows to show the operator what is happening.

#include <QString>

#include "core/RunHost.h"

namespace patrimonio {

constexpr int kPhasePauseMs = 1000;
inline const QString kWaitingStatus = QStringLiteral("Aguardando...");
// Shown before a photo is recompressed (asset step) and at the start of a photo-only pass.
inline const QString kWaitingForPhotoEngine =
    QStringLiteral("Aguardando motor de processamento de imagens.");

// S1 Opening: status text, pump, pause 1000 ms.
inline void openPhase(RunReport& host, const QString& statusText) {
    host.setStatus(statusText);
    host.pumpMessages();
    host.pause(kPhasePauseMs);
}

// S2 Range, minimum first (copy steps).
inline void setRangeMinFirst(RunReport& host, int rows) {
    host.setGaugeMinimum(0);
    host.setGaugeMaximum(rows);
}

// S2 Range, maximum first (asset pages, photo batches).
inline void setRangeMaxFirst(RunReport& host, int rows) {
    host.setGaugeMaximum(rows);
    host.setGaugeMinimum(0);
}

// S3 Row counter: "<row> de <gauge maximum>".
inline void showRowCounter(RunReport& host, int row) {
    host.setWork(QString::number(row) + QStringLiteral(" de ") +
                 QString::number(host.gaugeMaximum()));
}

// S4 Keep-alive.
inline void keepAlive(RunReport& host) {
    host.pumpMessages();
}

// S5 Closing.
inline void closePhase(RunReport& host) {
    host.setStatus(kWaitingStatus);
}

}  // namespace patrimonio
