// What camera photos add to a photo-only pass through the real window (the offscreen platform
// unless another is chosen), with the pause at zero and the message boxes answered through the
// seams. Run by hand with the private server up:
//   photo_window_bench [rows=150] [width=4000] [height=3000]
// The pass over `rows` rows, each with a camera photo, less the same pass over the same rows
// without photos (a null photo), against the plain full-decode loop (decode whole, sample to the
// box, encode at quality 60) over the same photos in this process. The goal: the photos' added
// time at most 1/2.2 of the loop's. Best of 2 rounds each; the window recompresses on as many
// workers as it does for the operator.

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "BareLoop.h"
#include "BenchSupport.h"
#include "LoopWatch.h"
#include "TestDatabase.h"
#include "WindowRun.h"
#include "app/Application.h"
#include "app/TFrmImportador.h"
#include "app/Theme.h"
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
    {
        DataModule data;
        data.Con_Novo.Params = Connection::editParams(test::kServerPrefix + path);
        RecordSet& cds = data.CdsAux;
        cds.setCommandText(QStringLiteral(
            "SELECT BEM_CODIGO, BEM_DESCRICAO, BEM_IMAGEM, BEM_IMAGEM_NOME FROM PAT_BEM"));
        cds.Open();
        for (int code = 1; code <= sent; ++code) {
            cds.Append();
            cds.Fields(0).setAsVariant(Value::integer(code));
            cds.Fields(1).setAsString(QStringLiteral("Bem"));
            cds.Fields(2).setAsVariant(Value::binary(samples[code % samples.size()]));
            cds.Fields(3).setAsString(QStringLiteral("foto%1.jpg").arg(code));
            cds.Post();
        }
        cds.ApplyUpdates(0);
    }
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
// the mode box ticked, the database chosen in Edit2, the run button clicked.
Pass passThroughWindow(const QTemporaryDir& tmp, const QString& database, const QString& name) {
    const QString copy = tmp.filePath(name + QStringLiteral(".fdb"));
    const QString exe = tmp.filePath(QStringLiteral("programa-") + name);
    if (!QFile::copy(database, copy)) throw std::runtime_error("cannot copy the database");
    setExecutableDirForTesting(exe);
    Pass pass;
    {
        TFrmImportador window;
        window.resize(TFrmImportador::kClientWidth, TFrmImportador::kClientHeight);
        QStringList messages;
        window.seams().message = [&](const QString& text) { messages << text; };
        window.seams().pause = [](int) {};
        window.seams().openFolder = [](const QString&) {};
        window.show();
        window.findChild<QCheckBox*>(QStringLiteral("Ck_Apenas_Tratar_Imagem"))->setChecked(true);
        window.findChild<QLineEdit*>(QStringLiteral("Edit3"))->setText(QStringLiteral("60"));
        window.findChild<QLineEdit*>(QStringLiteral("Edit2"))->setText(copy);
        if (!window.data().Con_Novo.Connected())
            throw std::runtime_error("the window did not connect to the database");
        QElapsedTimer t;
        t.start();
        test::LoopWatch watch;
        runThroughWindow(window);
        pass.seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
        pass.longestUnansweredMs = watch.longestMs();
        pass.lastMessage = messages.value(messages.size() - 1).simplified();
    }
    pass.afterFiles = static_cast<int>(QDir(afterFolder()).entryList(QDir::Files).size());
    setExecutableDirForTesting({});
    QDir(exe).removeRecursively();
    QFile::remove(copy);
    return pass;
}

// The plain loop over the photos of rows 1 to `rows`, from files, into one output file.
double bareLoopSeconds(const std::vector<std::string>& inputs, const std::string& out, int rows) {
    QElapsedTimer t;
    t.start();
    for (int code = 1; code <= rows; ++code) bareLoop(inputs[code % inputs.size()], out);
    return static_cast<double>(t.nsecsElapsed()) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    installFontSubstitutes();
    applyTheme(app, QStringLiteral("Light"));
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 150;
    const int width = argc > 2 ? std::atoi(argv[2]) : 4000;
    const int height = argc > 3 ? std::atoi(argv[3]) : 3000;

    try {
        QTemporaryDir tmp;
        std::vector<QByteArray> samples;
        for (unsigned s = 0; s < 4; ++s) samples.push_back(cameraPhoto(width, height, s));
        qsizetype largest = 0;
        for (const QByteArray& sample : samples) largest = std::max(largest, sample.size());
        std::vector<std::string> inputs;
        for (size_t s = 0; s < samples.size(); ++s) {
            inputs.push_back(tmp.filePath(QStringLiteral("in%1.jpg").arg(s)).toStdString());
            if (!writeBytes(inputs.back(), samples[s]))
                throw std::runtime_error("cannot write a sample photo");
        }
        const std::string bareOut = tmp.filePath(QStringLiteral("bare.jpg")).toStdString();

        QElapsedTimer filling;
        filling.start();
        const QString withPhotos =
            makeDatabase(tmp.filePath(QStringLiteral("fotos.fdb")), rows, samples);
        const QString withoutPhotos =
            makeDatabase(tmp.filePath(QStringLiteral("sem-fotos.fdb")), rows, {});
        std::printf(
            "photo-only pass through the window: %d rows, %d x %d photos (%zu distinct, up to "
            "%lld KiB stored), %d photo workers; databases made in %.1f s\n",
            rows, width, height, samples.size(), static_cast<long long>(largest / 1024),
            RecompressionPool::coreCount(), static_cast<double>(filling.elapsed()) / 1000);

        bareLoop(inputs[0], bareOut);  // warm the code and the file cache
        double withS = 1e9, withoutS = 1e9, bareS = 1e9;
        Pass with, without;
        for (int round = 0; round < 2; ++round) {
            with = passThroughWindow(tmp, withPhotos, QStringLiteral("fotos-%1").arg(round));
            withS = std::min(withS, with.seconds);
            without =
                passThroughWindow(tmp, withoutPhotos, QStringLiteral("sem-fotos-%1").arg(round));
            withoutS = std::min(withoutS, without.seconds);
            bareS = std::min(bareS, bareLoopSeconds(inputs, bareOut, rows));
        }
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
        std::printf("   added / bare %.2f, goal %.2f at most (1/2.2): %s\n", added / bareS, goal,
                    added <= goal * bareS ? "ok" : "SHORT");
        if (!passed) {
            std::printf("   the pass with photos did not recompress every photo\n");
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "photo_window_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
