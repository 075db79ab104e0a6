// The copy of a database both ways it can reach its file (written by the server on this
// machine, streamed to this program), against gbak run on this machine through the same server,
// on one database given by the operator; run by hand with the private server up:
//   backup_bench /caminho/banco.fdb [times=3]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "TestDatabase.h"
#include "core/Errors.h"
#include "db/DatabaseBackup.h"

using namespace patrimonio;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: backup_bench DATABASE [times]\n");
        return 1;
    }
    const QString database = test::kServerPrefix + QString::fromLocal8Bit(argv[1]);
    const int times = argc > 2 ? std::atoi(argv[2]) : 3;
    QTemporaryDir tmp;
    std::printf("database %s, %.1f MB\n", argv[1],
                QFileInfo(QString::fromLocal8Bit(argv[1])).size() / 1048576.0);
    for (int i = 0; i < times; ++i) {
        QElapsedTimer t;
        try {
            t.start();
            const BackupFile written =
                backupDatabase(database, QStringLiteral("SYSDBA"), test::kPassword,
                               tmp.filePath(QStringLiteral("servidor%1.fbk").arg(i)));
            const double byServer = t.nsecsElapsed() / 1e9;
            t.restart();
            const BackupFile streamed = backupDatabase(
                database, QStringLiteral("SYSDBA"), test::kPassword,
                tmp.filePath(QStringLiteral("fluxo%1.fbk").arg(i)), {}, BackupRoute::Streamed);
            const double byStream = t.nsecsElapsed() / 1e9;
            t.restart();
            QProcess gbak;
            gbak.start(QStringLiteral("gbak"),
                       {QStringLiteral("-b"), QStringLiteral("-g"), QStringLiteral("-user"),
                        QStringLiteral("SYSDBA"), QStringLiteral("-password"), test::kPassword,
                        database, tmp.filePath(QStringLiteral("gbak%1.fbk").arg(i))});
            gbak.waitForFinished(-1);
            const double reference = t.nsecsElapsed() / 1e9;
            std::printf(
                "written by the server %6.2f s (%.1f MB)   streamed here %6.2f s (%.1f MB)   "
                "gbak here %6.2f s\n",
                byServer, written.bytes / 1048576.0, byStream, streamed.bytes / 1048576.0,
                reference);
        } catch (const AppError& e) {
            std::fprintf(stderr, "backup_bench: %s\n", e.message().toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
