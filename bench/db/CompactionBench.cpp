// Compacting the database file a photo-only pass leaves behind, against a plain copy of that
// file, in the same run on the same disk. The file is made like the 150-photo register after a
// pass: photos of about 2.7 MB each written, then replaced by photos of about 70 KB, so that
// most of its pages are free. Goal: the compaction takes at most three times the plain copy.
//
// Run by hand: build/bench/db/compaction_bench [photos] [photo KB] [small KB]
// or build/bench/db/compaction_bench --estimates: the estimate the question gives against the
// size reached, over a table of passes.
// (needs the private server on 127.0.0.1:3052; the file is made in a temporary folder).

#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cstdio>
#include <filesystem>
#include <string>

#include "BenchMain.h"
#include "BenchSupport.h"
#include "TestDatabase.h"
#include "db/Connection.h"
#include "db/DatabaseCompaction.h"
#include "db/RecordSet.h"

using namespace patrimonio;
using namespace patrimonio::bench;

namespace {

QByteArray noise(qsizetype bytes, quint32 seed) {
    QByteArray b(bytes, Qt::Uninitialized);
    QRandomGenerator g(seed);
    g.fillRange(reinterpret_cast<quint32*>(b.data()), bytes / 4);
    return b;
}

// Writes every photo, then replaces the first `replaced` (all when negative) by small ones, a
// row per write-back as the pass does. `freeMb` of other rows written and deleted before leave
// free pages of another kind in the file.
void makeFile(const QString& path, int photos, int photoKb, int smallKb, int replaced = -1,
              int freeMb = 0) {
    test::createDatabase(path,
                         "CREATE TABLE PAT_BEM (BEM_CODIGO INTEGER NOT NULL PRIMARY KEY, "
                         "BEM_DESCRICAO VARCHAR(60), BEM_IMAGEM BLOB SUB_TYPE 0, BEM_IMAGEM_NOME "
                         "VARCHAR(100));\n"
                         "CREATE TABLE RASCUNHO (ID INTEGER, TEXTO VARCHAR(8000));");
    if (freeMb > 0) {
        test::runIsql(QStringLiteral("SET TERM ^ ;\nEXECUTE BLOCK AS DECLARE i INTEGER = 0; "
                                     "BEGIN WHILE (i < %1) DO BEGIN INSERT INTO RASCUNHO VALUES "
                                     "(:i, LPAD('', 8000, UUID_TO_CHAR(GEN_UUID()))); i = i + 1; "
                                     "END END^\nSET TERM ; ^\ncommit;\nDELETE FROM RASCUNHO;\n"
                                     "commit;\nSELECT COUNT(*) FROM RASCUNHO;\n")
                          .arg(freeMb * 128)
                          .toLatin1(),
                      path);
    }
    Connection con(QStringLiteral("Con_Novo"));
    con.Params = Connection::editParams(path);
    con.Open();
    RecordSet cds(con);
    cds.setCommandText(
        QStringLiteral("SELECT BEM_CODIGO, BEM_DESCRICAO, BEM_IMAGEM, "
                       "BEM_IMAGEM_NOME FROM PAT_BEM ORDER BY BEM_CODIGO"));
    cds.Open();
    for (int code = 1; code <= photos; ++code) {
        cds.Append();
        cds.Fields(0).setAsVariant(Value::integer(code));
        cds.Fields(1).setAsString(QStringLiteral("Bem %1").arg(code));
        cds.Fields(2).setAsVariant(Value::binary(noise(photoKb * 1024, code)));
        cds.Fields(3).setAsString(QStringLiteral("foto%1.jpg").arg(code));
        cds.Post();
        if (cds.ApplyUpdates(0) != 0) std::abort();
    }
    cds.Close();
    cds.Open();
    for (int n = 0; !cds.Eof() && n != replaced; cds.Next(), ++n) {
        cds.Edit();
        cds.Fields(2).setAsVariant(Value::binary(noise(smallKb * 1024, 7)));
        cds.Post();
        if (cds.ApplyUpdates(0) != 0) std::abort();
    }
    cds.Close();
    con.Close();
}

double mb(qint64 bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// The estimate the question gives against the size a compaction then reaches, over passes
// that leave different files.
int estimates() {
    struct Pass {
        const char* label;
        int photos, photoKb, smallKb, replaced, freeMb;
    };
    const Pass passes[] = {
        {"60 camera photos made small", 60, 2700, 70, -1, 0},
        {"5 of 60 made small", 60, 2700, 70, 5, 0},
        {"none written", 40, 2700, 70, 0, 0},
        {"small photos, 40 MB other free pages", 200, 300, 40, -1, 40},
        {"300 photos of 300 KB made 30 KB", 300, 300, 30, -1, 0},
    };
    std::printf("%-38s %10s %10s %10s %8s %10s\n", "pass", "file MB", "said MB", "after MB",
                "said/after", "asking ms");
    bool allWithin = true;
    for (const Pass& p : passes) {
        test::TempFolder folder;
        const QString path = folder.path(QStringLiteral("fotos.fdb"));
        makeFile(path, p.photos, p.photoKb, p.smallKb, p.replaced, p.freeMb);
        Connection con(QStringLiteral("Con_Novo"));
        con.Params = Connection::editParams(path);
        con.Open();
        const double t = wallMs();
        const CompactionEstimate estimate = estimateCompaction(con);
        const double estimateMs = wallMs() - t;
        con.Close();
        const Compaction done = compactDatabase(path, QStringLiteral("SYSDBA"), test::kPassword,
                                                folder.path(QStringLiteral("Bancos_Antes/")),
                                                QDateTime::currentDateTime());
        const double ratio =
            static_cast<double>(estimate.compactedBytes) / static_cast<double>(done.bytesAfter);
        allWithin = allWithin && ratio >= 0.75 && ratio <= 1.25;
        std::printf("%-38s %10.1f %10.1f %10.1f %8.2f %10.0f\n", p.label, mb(estimate.fileBytes),
                    mb(estimate.compactedBytes), mb(done.bytesAfter), ratio, estimateMs);
        std::fflush(stdout);
    }
    std::printf("every estimate within a quarter of the size reached: %s\n",
                allWithin ? "yes" : "NO");
    return allWithin ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    return benchMain(argc, argv, "compaction_bench", [](const Args& args, Workspace& folder) {
        if (args.is(1, "--estimates")) return estimates();
        const int photos = args.number(1, 150);
        const int photoKb = args.number(2, 2700);
        const int smallKb = args.number(3, 70);
        const QString path = folder.path(QStringLiteral("fotos.fdb"));
        std::printf("making the file: %d photos of %d KB replaced by photos of %d KB...\n", photos,
                    photoKb, smallKb);
        std::fflush(stdout);
        makeFile(path, photos, photoKb, smallKb);
        const qint64 before = QFileInfo(path).size();

        Connection con(QStringLiteral("Con_Novo"));
        con.Params = Connection::editParams(path);
        con.Open();
        const CompactionEstimate estimate = estimateCompaction(con);
        con.Close();

        // The plain copy, as a file manager makes it; and the same followed by a sync to the disk,
        // as the compaction's restore ends with its file on the disk.
        const QString copy = folder.path(QStringLiteral("copia.fdb"));
        double t = wallMs();
        std::filesystem::copy_file(path.toStdString(), copy.toStdString());
        const double copyMs = wallMs() - t;
        std::filesystem::remove(copy.toStdString());
        t = wallMs();
        std::filesystem::copy_file(path.toStdString(), copy.toStdString());
        {
            QFile f(copy);
            if (f.open(QIODevice::ReadWrite)) ::fsync(f.handle());
        }
        const double copySyncMs = wallMs() - t;
        std::filesystem::remove(copy.toStdString());

        t = wallMs();
        const Compaction done = compactDatabase(path, QStringLiteral("SYSDBA"), test::kPassword,
                                                folder.path(QStringLiteral("Bancos_Antes/")),
                                                QDateTime::currentDateTime());
        const double compactMs = wallMs() - t;

        std::printf("\nfile before:             %8.1f MB\n", mb(before));
        std::printf("estimated after:         %8.1f MB (used pages)\n",
                    mb(estimate.compactedBytes));
        std::printf("file after:              %8.1f MB\n", mb(done.bytesAfter));
        std::printf("\n%-24s %10s %10s\n", "", "ms", "x copy");
        std::printf("%-24s %10.0f %10.2f\n", "plain copy", copyMs, 1.0);
        std::printf("%-24s %10.0f %10.2f\n", "plain copy + sync", copySyncMs, copySyncMs / copyMs);
        std::printf("%-24s %10.0f %10.2f   (goal: at most 3.00)\n", "compaction", compactMs,
                    compactMs / copyMs);
        return 0;
    });
}
