// The copy of a database both ways it can reach its file (written by the server on this
// machine, streamed to this program), against gbak run on this machine through the same server,
// on one database given by the operator; run by hand with the private server up:
//   backup_bench /caminho/banco.fdb [times=3]

#include <QFileInfo>
#include <QProcess>
#include <cstdio>

#include "BenchMain.h"
#include "BenchTiming.h"
#include "TestDatabase.h"
#include "db/DatabaseBackup.h"

using namespace patrimonio;
using namespace patrimonio::bench;

int main(int argc, char** argv) {
    return benchMain(argc, argv, "backup_bench", [](const Args& args, Workspace& work) {
        if (args.count() < 1) {
            std::fprintf(stderr, "usage: backup_bench DATABASE [times]\n");
            return 1;
        }
        const QString database = test::kServerPrefix + args.text(1);
        const int times = args.number(2, 3);
        std::printf("database %s, %.1f MB\n", qPrintable(args.text(1)),
                    QFileInfo(args.text(1)).size() / 1048576.0);
        for (int i = 0; i < times; ++i) {
            BackupFile written, streamed;
            const std::vector<double> s = bestOf(
                1, {[&] {
                        return secondsOf([&] {
                            written =
                                backupDatabase(database, QStringLiteral("SYSDBA"), test::kPassword,
                                               work.path(QStringLiteral("servidor%1.fbk").arg(i)));
                        });
                    },
                    [&] {
                        return secondsOf([&] {
                            streamed =
                                backupDatabase(database, QStringLiteral("SYSDBA"), test::kPassword,
                                               work.path(QStringLiteral("fluxo%1.fbk").arg(i)), {},
                                               BackupRoute::Streamed);
                        });
                    },
                    [&] {
                        return secondsOf([&] {
                            QProcess gbak;
                            gbak.start(QStringLiteral("gbak"),
                                       {QStringLiteral("-b"), QStringLiteral("-g"),
                                        QStringLiteral("-user"), QStringLiteral("SYSDBA"),
                                        QStringLiteral("-password"), test::kPassword, database,
                                        work.path(QStringLiteral("gbak%1.fbk").arg(i))});
                            gbak.waitForFinished(-1);
                        });
                    }});
            std::printf(
                "written by the server %6.2f s (%.1f MB)   streamed here %6.2f s (%.1f MB)   "
                "gbak here %6.2f s\n",
                s[0], written.bytes / 1048576.0, s[1], streamed.bytes / 1048576.0, s[2]);
        }
        return 0;
    });
}
