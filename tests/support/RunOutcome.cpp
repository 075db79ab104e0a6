#include "RunOutcome.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "QStringPrinter.h"
#include "core/AppPaths.h"

namespace patrimonio::test {

namespace {

// Every file of a folder, by name, with its bytes.
QMap<QString, QByteArray> filesIn(const QString& folder) {
    QMap<QString, QByteArray> files;
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::ReadOnly)) files.insert(name, f.readAll());
    }
    return files;
}

}  // namespace

RunOutcome outcomeOf(const RecordingHost& host) {
    RunOutcome out;
    out.events = host.events;
    out.log = host.log;
    out.photosShown = host.photosShown;
    out.waits = host.waits;
    out.before = filesIn(beforeFolder());
    out.after = filesIn(afterFolder());
    return out;
}

void expectSameOutcome(const RunOutcome& pooled, const RunOutcome& alone) {
    EXPECT_EQ(pooled.events, alone.events);
    EXPECT_EQ(pooled.log, alone.log);
    EXPECT_EQ(pooled.photosShown, alone.photosShown);
    EXPECT_EQ(pooled.figures, alone.figures);
    EXPECT_EQ(pooled.before.keys(), alone.before.keys());
    EXPECT_TRUE(pooled.before == alone.before);
    EXPECT_EQ(pooled.after.keys(), alone.after.keys());
    EXPECT_TRUE(pooled.after == alone.after);
    EXPECT_EQ(pooled.rows, alone.rows);
}

}  // namespace patrimonio::test
