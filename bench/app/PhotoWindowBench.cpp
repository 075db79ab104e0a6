// What camera photos add to a photo-only pass through the real window (the offscreen platform
// unless another is chosen), with the pause at zero and the message boxes answered through the
// seams. Run by hand with the private server up:
//   photo_window_bench [rows=150] [width=4000] [height=3000] [paused rows=1000]
// 1. The pass over `rows` rows, each with a camera photo, less the same pass over the same rows
//    without photos (a null photo), against the plain full-decode loop (decode whole, sample to
//    the box, encode at quality 60) over the same photos in this process. The goal: the photos'
//    added time at most 1/2.2 of the loop's. Best of 2 rounds each; the window recompresses on
//    as many workers as it does for the operator.
// 2. What the same photos cost a whole import through the window: an import of a register whose
//    `rows` assets hold them, less the import of the same register without photos, against
//    what they cost the photo-only pass in 1. The goal: at most what the pass pays.
// 3. The pass over `paused rows` camera photos with its pauses at their real 1000 ms, against
//    the pauses' time and the same pass with its pauses at zero (the photo work alone). The
//    goal: at most the pauses plus a quarter of the photo work. 0 leaves it out.

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "BareLoop.h"
#include "BenchDatabases.h"
#include "BenchSupport.h"
#include "BenchTiming.h"
#include "LoopWatch.h"
#include "TestDatabase.h"
#include "WindowRun.h"
#include "app/TFrmImportador.h"
#include "core/AppPaths.h"
#include "db/DataModule.h"
#include "photos/RecompressionPool.h"
#include "runs/PhotoPass.h"

using namespace patrimonio;
using namespace patrimonio::bench;

namespace {

const QByteArray kTable =
    "CREATE TABLE PAT_BEM (BEM_CODIGO INTEGER NOT NULL PRIMARY KEY, BEM_IMAGEM BLOB SUB_TYPE 0,"
    " BEM_IMAGEM_NOME VARCHAR(100), BEM_DESCRICAO VARCHAR(60));";

// Rows `first` to `last` made by the server itself, from `select` (which may use :i, the code).
void insertRows(const QString& database, int first, int last, const QString& select) {
    for (int from = first; from <= last; from += 100) {
        test::runIsql(QStringLiteral("SET TERM ^ ;\n"
                                     "EXECUTE BLOCK AS\n"
                                     "  DECLARE i INTEGER = %1;\n"
                                     "BEGIN\n"
                                     "  WHILE (i <= %2) DO BEGIN\n"
                                     "    INSERT INTO PAT_BEM (BEM_CODIGO, BEM_DESCRICAO,\n"
                                     "      BEM_IMAGEM, BEM_IMAGEM_NOME)\n"
                                     "    %3;\n"
                                     "    i = i + 1;\n"
                                     "  END\n"
                                     "END^\n"
                                     "SET TERM ; ^\n"
                                     "COMMIT;\n")
                          .arg(from)
                          .arg(std::min(last, from + 99))
                          .arg(select)
                          .toLatin1(),
                      database);
    }
}

// `rows` rows; row `code` holds samples[code % samples.size()], or a null photo when there are
// no samples. The samples go in through the client once each; the server copies them into the
// other rows itself, which is far quicker than sending every photo over the wire.
QString makeDatabase(const QString& path, int rows, const std::vector<QByteArray>& samples) {
    test::createDatabase(path, kTable);
    if (samples.empty()) {
        insertRows(path, 1, rows,
                   QStringLiteral("VALUES (:i, 'Bem', NULL, 'foto' || :i || '.jpg')"));
        return path;
    }
    const int sent = std::min(rows, static_cast<int>(samples.size()));
    appendPhotoRows(test::kServerPrefix + path, 1, sent, samples);
    insertRows(path, sent + 1, rows,
               QStringLiteral("SELECT :i, BEM_DESCRICAO, BEM_IMAGEM, 'foto' || :i || '.jpg' "
                              "FROM PAT_BEM WHERE BEM_CODIGO = MOD(:i - 1, %1) + 1")
                   .arg(sent));
    return path;
}

struct Pass {
    double seconds = 0;
    qint64 longestUnansweredMs = 0;  // the longest the window went without answering
    int afterFiles = 0;
    QString lastMessage;
};

// One photo-only pass through the window on a fresh copy of `database`, into folders of its own:
// the mode box ticked, the database chosen in Edit2, the run button clicked. The pauses last
// what they last for the operator when `realPauses`, else nothing.
Pass passThroughWindow(const Workspace& work, const QString& database, const QString& name,
                       bool realPauses = false) {
    const QString copy = work.path(name + QStringLiteral(".fdb"));
    const QString exe = work.programPath(name);
    if (!QFile::copy(database, copy)) throw std::runtime_error("cannot copy the database");
    setExecutableDirForTesting(exe);
    Pass pass;
    {
        TFrmImportador window;
        QStringList messages;
        prepareWindow(window, &messages, realPauses);
        window.findChild<QCheckBox*>(QStringLiteral("Ck_Apenas_Tratar_Imagem"))->setChecked(true);
        window.findChild<QLineEdit*>(QStringLiteral("Edit3"))->setText(QStringLiteral("60"));
        window.findChild<QLineEdit*>(QStringLiteral("Edit2"))->setText(copy);
        if (!window.data().Con_Novo.Connected())
            throw std::runtime_error("the window did not connect to the database");
        test::LoopWatch watch;
        pass.seconds = secondsOf([&] { runThroughWindow(window); });
        pass.longestUnansweredMs = watch.longestMs();
        pass.lastMessage = messages.value(messages.size() - 1).simplified();
    }
    pass.afterFiles = static_cast<int>(QDir(afterFolder()).entryList(QDir::Files).size());
    setExecutableDirForTesting(work.programPath());
    QDir(exe).removeRecursively();
    QFile::remove(copy);
    return pass;
}

// A register pair for an import: `rows` assets and the generator's other tables; the assets hold
// samples[code % 4] named foto<code>.jpg, or no photo when there are no samples.
DatabasePair makeImportPair(const Workspace& work, const QString& name, int rows,
                            const std::vector<QByteArray>& samples) {
    const DatabasePair p = makeDatabasePair(work.path(), name, SourceView::With);
    generateRegister({QStringLiteral("--source"), p.source, QStringLiteral("--rows"),
                      QStringLiteral("PAT_BEM=%1").arg(rows), QStringLiteral("--no-photos")});
    generateRegister({QStringLiteral("--target"), p.target});
    if (samples.empty()) return p;
    DataModule data;
    data.Con_Novo.Params = Connection::editParams(test::kServerPrefix + p.source);
    RecordSet& cds = data.CdsAux;
    cds.setCommandText(QStringLiteral(
        "SELECT BEM_CODIGO, BEM_IMAGEM, BEM_IMAGEM_NOME FROM PAT_BEM ORDER BY BEM_CODIGO"));
    cds.Open();
    int n = 0;
    for (; !cds.Eof(); cds.Next(), ++n) {
        const int code = static_cast<int>(cds.Fields(0).AsVariant().integer());
        cds.Edit();
        cds.Fields(1).setAsVariant(Value::binary(samples[code % samples.size()]));
        cds.Fields(2).setAsString(QStringLiteral("foto%1.jpg").arg(code));
        cds.Post();
        if (n % 20 == 19) cds.ApplyUpdates(0);
    }
    cds.ApplyUpdates(0);
    return p;
}

// One whole import through the window on fresh copies of the pair, into folders of its own.
double importOnCopies(const Workspace& work, const DatabasePair& pair, const QString& name,
                      QString* lastMessage) {
    const DatabasePair copy = freshCopy(pair, name);
    setExecutableDirForTesting(work.programPath(name));
    const WindowRun run = importThroughWindow(copy);
    setExecutableDirForTesting(work.programPath());
    QDir(work.programPath(name)).removeRecursively();
    QFile::remove(copy.source);
    QFile::remove(copy.target);
    *lastMessage = run.lastMessage;
    return run.seconds;
}

// The plain loop over the photos of rows 1 to `rows`, from files, into one output file.
double bareLoopSeconds(const std::vector<std::string>& inputs, const std::string& out, int rows) {
    return secondsOf([&] {
        for (int code = 1; code <= rows; ++code) bareLoop(inputs[code % inputs.size()], out);
    });
}

}  // namespace

int main(int argc, char** argv) {
    return windowBenchMain(argc, argv, "photo_window_bench", [](const Args& args, Workspace& work) {
        const int rows = std::max(1, args.number(1, 150));
        const int width = args.number(2, 4000);
        const int height = args.number(3, 3000);
        const int pausedRows = args.number(4, 1000);
        std::vector<QByteArray> samples;
        for (unsigned s = 0; s < 4; ++s) samples.push_back(cameraPhoto(width, height, s));
        qsizetype largest = 0;
        for (const QByteArray& sample : samples) largest = std::max(largest, sample.size());
        std::vector<std::string> inputs;
        for (size_t s = 0; s < samples.size(); ++s) {
            inputs.push_back(work.path(QStringLiteral("in%1.jpg").arg(s)).toStdString());
            if (!writeBytes(inputs.back(), samples[s]))
                throw std::runtime_error("cannot write a sample photo");
        }
        const std::string bareOut = work.path(QStringLiteral("bare.jpg")).toStdString();

        QElapsedTimer filling;
        filling.start();
        const QString withPhotos =
            makeDatabase(work.path(QStringLiteral("fotos.fdb")), rows, samples);
        const QString withoutPhotos =
            makeDatabase(work.path(QStringLiteral("sem-fotos.fdb")), rows, {});
        std::printf(
            "photo-only pass through the window: %d rows, %d x %d photos (%zu distinct, up to "
            "%lld KiB stored), %d photo workers; databases made in %.1f s\n",
            rows, width, height, samples.size(), static_cast<long long>(largest / 1024),
            RecompressionPool::coreCount(), static_cast<double>(filling.elapsed()) / 1000);

        bareLoop(inputs[0], bareOut);  // warm the code and the file cache
        Pass with, without;
        const std::vector<double> passes = bestOf(
            2, {[&] { return (with = passThroughWindow(work, withPhotos, "passa-fotos")).seconds; },
                [&] {
                    return (without = passThroughWindow(work, withoutPhotos, "passa-sem-fotos"))
                        .seconds;
                },
                [&] { return bareLoopSeconds(inputs, bareOut, rows); }});
        const double withS = passes[0], withoutS = passes[1], bareS = passes[2];
        const bool passed =
            with.afterFiles == rows && with.lastMessage == photoPassSummary(rows, 0).simplified();
        const double added = withS - withoutS;
        const double goal = 1 / 2.2;
        std::printf("   the window went at most %lld ms without answering (goal 250 at most)\n",
                    static_cast<long long>(with.longestUnansweredMs));
        std::printf("   pass with photos     %8.2f s  (%d after files; ended \"%s\")\n", withS,
                    with.afterFiles, qPrintable(with.lastMessage));
        std::printf("   pass without photos  %8.2f s  (ended \"%s\")\n", withoutS,
                    qPrintable(without.lastMessage));
        std::printf("   photos' added time   %8.2f s\n", added);
        std::printf("   bare loop            %8.2f s  (decode whole, sample, encode at 60)\n",
                    bareS);
        resultLine(QStringLiteral("added / bare"), added / bareS, "", atMost(goal));
        if (!passed) {
            std::printf("   the pass with photos did not recompress every photo\n");
            return 1;
        }

        // 2. The same photos in a whole import.
        const DatabasePair importWith =
            makeImportPair(work, QStringLiteral("importa-fotos"), rows, samples);
        const DatabasePair importWithout =
            makeImportPair(work, QStringLiteral("importa-sem-fotos"), rows, {});
        QString importWithEnd, importWithoutEnd;
        const std::vector<double> imports = bestOf(
            2, {[&] { return importOnCopies(work, importWith, "if", &importWithEnd); },
                [&] { return importOnCopies(work, importWithout, "is", &importWithoutEnd); }});
        const double importWithS = imports[0], importWithoutS = imports[1];
        const double importAdded = importWithS - importWithoutS;
        std::printf("\n2. the same %d photos in a whole import through the window\n", rows);
        std::printf("   import with photos    %8.2f s  (ended \"%s\")\n", importWithS,
                    qPrintable(importWithEnd.left(60)));
        std::printf("   import without photos %8.2f s\n", importWithoutS);
        std::printf("   photos' added time: import %.2f s, photo-only pass %.2f s\n", importAdded,
                    added);
        resultLine(QStringLiteral("import / pass"), importAdded / added, "x", atMost(1.2));

        // 3. The pauses at their real length.
        if (pausedRows > 0) {
            const QString many =
                makeDatabase(work.path(QStringLiteral("muitas-fotos.fdb")), pausedRows, samples);
            // Every full batch is followed by another; the last one is never full.
            const int pauses = pausedRows / 50 + 1;
            const Pass paused = passThroughWindow(work, many, QStringLiteral("pausas"), true);
            const Pass unpaused = passThroughWindow(work, many, QStringLiteral("sem-pausas"));
            const double pausesS = pauses * 1.0;
            const double goalS = pausesS + unpaused.seconds / 4;
            std::printf("\n3. the photo-only pass over %d photos, its %d pauses at 1000 ms\n",
                        pausedRows, pauses);
            std::printf("   pass with its pauses          %8.2f s  (%d after files)\n",
                        paused.seconds, paused.afterFiles);
            std::printf("   the pauses alone              %8.2f s\n", pausesS);
            std::printf("   photo work alone (pauses at 0) %7.2f s  (%d after files)\n",
                        unpaused.seconds, unpaused.afterFiles);
            std::printf("   the two one after the other   %8.2f s\n", pausesS + unpaused.seconds);
            std::printf(
                "   %.0f%% of the pauses' time overlapped\n",
                std::clamp((pausesS + unpaused.seconds - paused.seconds) / pausesS, 0.0, 1.0) *
                    100);
            resultLine(QStringLiteral("pass with its pauses"), paused.seconds, " s", atMost(goalS));
            std::printf("   the window went at most %lld ms without answering\n",
                        static_cast<long long>(paused.longestUnansweredMs));
        }
        return 0;
    });
}
