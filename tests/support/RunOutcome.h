#pragma once
// Everything a run leaves for the operator to see: what the window was told, the photo folders'
// files and the rows written. Photo workers must change none of it, so a run with workers is
// compared with the same run done one photo at a time.

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include "RecordingHost.h"

namespace patrimonio::test {

struct RunOutcome {
    QStringList events;
    QString log;
    QStringList photosShown;
    int waits = 0;          // not compared: one at a time there is nothing to wait for
    QList<qint64> figures;  // the run's own counts (its report's photo figures, say)
    QMap<QString, QByteArray> before, after;  // the photo folders' files, by name
    QStringList rows;                         // what the run wrote, a line a row
};

// Takes what the host was shown and the files of the before and after folders as they are now.
// The caller adds the figures and the rows.
RunOutcome outcomeOf(const RecordingHost& host);

// Expects `pooled` to be `alone` in every part, the files byte for byte.
void expectSameOutcome(const RunOutcome& pooled, const RunOutcome& alone);

}  // namespace patrimonio::test
