#pragma once
// A source and a target register on the test server, the data module connected to both, a
// recording host and the import run over them.

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include "RecordingHost.h"
#include "TestDatabase.h"
#include "core/RunCounters.h"
#include "db/DataModule.h"
#include "runs/ImportRun.h"

namespace patrimonio::test {

// The register schema and the source's view, as the demo uses them.
QByteArray registerSchema();
QByteArray sourceViewDdl();

class RegisterPair {
public:
    // Both databases from the register schema (the source with its view), each followed by
    // the extra DDL given.
    explicit RegisterPair(const QByteArray& extraSourceDdl = {},
                          const QByteArray& extraTargetDdl = {});
    // Databases made from exactly the DDL given.
    static RegisterPair custom(const QByteArray& sourceDdl, const QByteArray& targetDdl);
    ~RegisterPair();
    RegisterPair(RegisterPair&&) = delete;

    // Fills the source with the generator: the counts given, every other table empty unless
    // defaults is true. Also gives the target its own organs and units.
    void generate(const QMap<QString, int>& rows, bool defaults = false, bool photos = false);

    QStringList source(const QString& sql) const { return queryRows(sourcePath, sql); }
    QStringList target(const QString& sql) const { return queryRows(targetPath, sql); }
    int targetCount(const QString& table) const;

    TempFolder folder;
    // What the run writes beside "the executable" (photos, copies of the target) goes into the
    // pair's folder unless the test chose a folder of its own.
    bool ownsExecutableDir = false;
    QString sourcePath;
    QString targetPath;
    DataModule data;
    RunCounters counters;
    RecordingHost host;
    ImportRun run{data, counters, host};

private:
    struct Custom {};
    RegisterPair(Custom, const QByteArray& sourceDdl, const QByteArray& targetDdl);
    void connect();
};

}  // namespace patrimonio::test
