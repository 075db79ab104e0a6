// What the window costs a run, through the real window (the offscreen platform unless another is
// chosen), with the pauses at zero and the message boxes answered through the seams. Run by hand
// with the private server up:
//   window_bench [extra depreciation rows=200000] [reported rows=200000]
// 1. Reporting alone: a step's reporting for `reported rows` rows (gauge range, then per row the
//    gauge position, the row counter and a pump) through the window, against the same calls to
//    a host that does nothing. The window should add nothing measurable.
// 2. A whole import of the demo register, and of the same register holding `extra` more
//    depreciation rows: the time the extra rows add, against a bare row-by-row copy of those
//    rows (one prepared INSERT per row, a commit every 500) on the same server in the same run.
//    The goal: the added time at most a fifth of the bare copy's.

#include <firebird/Interface.h>

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "BenchSupport.h"
#include "TestDatabase.h"
#include "app/Application.h"
#include "app/TFrmImportador.h"
#include "app/Theme.h"
#include "core/AppPaths.h"
#include "core/StatusConvention.h"

using namespace patrimonio;
using namespace patrimonio::bench;
using namespace Firebird;

namespace {

// A step's reporting for `rows` rows, as the plain copy steps report.
void report(RunReport& host, int rows) {
    openPhase(host, QStringLiteral("Importando as depreciações."));
    setRangeMinFirst(host, rows);
    for (int j = 0; j < rows; ++j) {
        host.setGaugeProgress(j);
        if (j + 1 < rows) showRowCounter(host, j);
        keepAlive(host);
    }
    closePhase(host);
}

class NoHost : public RunReport {
public:
    void setStatus(const QString&) override {}
    void setWork(const QString&) override {}
    void setGaugeMinimum(int) override {}
    void setGaugeMaximum(int value) override { max_ = value; }
    void setGaugeProgress(int value) override { progress_ = value; }
    int gaugeMaximum() const override { return max_; }
    int gaugeProgress() const override { return progress_; }
    void pumpMessages() override {}
    void pause(int) override {}
    void waitResponsive(const std::function<bool(int)>& finished) override {
        while (!finished(15)) {
        }
    }
    void showPhoto(const PhotoView&) override {}
    QString logText() const override { return {}; }
    void setLogText(const QString&) override {}
    void appendLogLine(const QString&) override {}

private:
    int max_ = 0;
    int progress_ = 0;
};

void generate(const QStringList& args) {
    QProcess gen;
    gen.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    gen.start(QStringLiteral(GENERATE_REGISTER), args);
    if (!gen.waitForFinished(-1) || gen.exitCode() != 0) throw std::runtime_error("generator");
}

struct Pair {
    QString source, target;
};

Pair makePair(const QTemporaryDir& tmp, const QString& name, int depreciations) {
    Pair p{tmp.filePath(name + QStringLiteral("-origem.fdb")),
           tmp.filePath(name + QStringLiteral("-destino.fdb"))};
    test::createDatabase(p.source,
                         test::fixtureFile("schema.sql") + test::fixtureFile("source-view.sql"));
    test::createDatabase(p.target, test::fixtureFile("schema.sql"));
    generate({QStringLiteral("--source"), p.source, QStringLiteral("--rows"),
              QStringLiteral("PAT_DEPRECIACAO=%1").arg(depreciations)});
    generate({QStringLiteral("--target"), p.target});
    return p;
}

// One whole import through the window: both fields typed, the run button clicked.
double importThroughWindow(const Pair& p, QString* lastMessage) {
    TFrmImportador window;
    window.resize(TFrmImportador::kClientWidth, TFrmImportador::kClientHeight);
    QStringList messages;
    window.seams().message = [&](const QString& text) { messages << text; };
    window.seams().pause = [](int) {};
    window.seams().openFolder = [](const QString&) {};
    window.show();
    window.findChild<QLineEdit*>(QStringLiteral("Edit4"))->setText(p.source);
    window.findChild<QLineEdit*>(QStringLiteral("Edit2"))->setText(p.target);
    QElapsedTimer t;
    t.start();
    window.BitBtn1Click();
    const double s = static_cast<double>(t.nsecsElapsed()) / 1e9;
    *lastMessage = messages.value(messages.size() - 1);
    return s;
}

// The bare copy: one cursor on the source, one prepared INSERT on the target, a commit after row
// 0 and every 500 rows after it.
double bareCopy(const Pair& p, const QByteArray& columns, const QByteArray& table) {
    IMaster* master = fb_get_master_interface();
    IStatus* status = master->getStatus();
    ThrowStatusWrapper st(status);
    auto attach = [&](const QString& path) {
        IXpbBuilder* dpb =
            master->getUtilInterface()->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
        dpb->insertString(&st, isc_dpb_user_name, "SYSDBA");
        dpb->insertString(&st, isc_dpb_password, "quillfern");
        const QByteArray db = (test::kServerPrefix + path).toUtf8();
        IProvider* prov = master->getDispatcher();
        IAttachment* att = prov->attachDatabase(&st, db.constData(), dpb->getBufferLength(&st),
                                                dpb->getBuffer(&st));
        dpb->dispose();
        prov->release();
        return att;
    };
    IAttachment* src = attach(p.source);
    IAttachment* dst = attach(p.target);
    QElapsedTimer timer;
    timer.start();
    ITransaction* rtra = src->startTransaction(&st, 0, nullptr);
    const QByteArray select = "SELECT " + columns + " FROM " + table;
    IStatement* sel = src->prepare(&st, rtra, 0, select.constData(), 3, 0);
    IMessageMetadata* meta = sel->getOutputMetadata(&st);
    std::vector<unsigned char> buffer(meta->getMessageLength(&st));
    const int n = columns.count(',') + 1;
    const QByteArray insert = "INSERT INTO " + table + " (" + columns + ") VALUES (" +
                              QByteArray("?, ").repeated(n).chopped(2) + ")";
    ITransaction* wtra = dst->startTransaction(&st, 0, nullptr);
    IStatement* ins = dst->prepare(&st, wtra, 0, insert.constData(), 3, 0);
    IResultSet* rs = sel->openCursor(&st, rtra, nullptr, nullptr, meta, 0);
    int j = 0;
    while (rs->fetchNext(&st, buffer.data()) == IStatus::RESULT_OK) {
        if (!wtra) wtra = dst->startTransaction(&st, 0, nullptr);
        ins->execute(&st, wtra, meta, buffer.data(), nullptr, nullptr);
        if (j % 500 == 0) {
            wtra->commit(&st);
            wtra = nullptr;
        }
        ++j;
    }
    if (wtra) wtra->commit(&st);
    rs->close(&st);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    ins->free(&st);
    sel->free(&st);
    meta->release();
    rtra->commit(&st);
    src->detach(&st);
    dst->detach(&st);
    status->dispose();
    return seconds;
}

void emptyTable(const QString& database, const QByteArray& table) {
    test::runIsql("DELETE FROM " + table + ";\ncommit;\n", database);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    installFontSubstitutes();
    applyTheme(app, QStringLiteral("Light"));
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int extra = argc > 1 ? std::atoi(argv[1]) : 200000;
    const int reported = argc > 2 ? std::atoi(argv[2]) : 200000;
    QTemporaryDir tmp;
    setExecutableDirForTesting(tmp.filePath(QStringLiteral("programa")));

    // 1. Reporting alone.
    {
        TFrmImportador window;
        window.resize(TFrmImportador::kClientWidth, TFrmImportador::kClientHeight);
        window.seams().pause = [](int) {};
        window.show();
        NoHost none;
        double windowS = 1e9, noneS = 1e9;
        for (int round = 0; round < 2; ++round) {
            QElapsedTimer t;
            t.start();
            report(window, reported);
            windowS = std::min(windowS, static_cast<double>(t.nsecsElapsed()) / 1e9);
            t.restart();
            report(none, reported);
            noneS = std::min(noneS, static_cast<double>(t.nsecsElapsed()) / 1e9);
        }
        std::printf("1. reporting %d rows: window %.3f s, no window %.3f s: %.2f us per row\n",
                    reported, windowS, noneS, (windowS - noneS) / reported * 1e6);
    }

    // 2. A whole import with and without the extra rows.
    try {
        const int base = 240;  // the demo register's depreciations
        const Pair small = makePair(tmp, QStringLiteral("demo"), base);
        const Pair big = makePair(tmp, QStringLiteral("grande"), base + extra);
        const QByteArray depColumns =
            "DEP_CODIGO, BEM_CODIGO, DC_CODIGO, DEP_DATA, DEP_VALOR, DEP_VALOR_ACUMULADO, DEP_TAXA";
        QString smallEnd, bigEnd;
        double smallS = 1e9, bigS = 1e9, bareS = 1e9;
        for (int round = 0; round < 2; ++round) {
            smallS = std::min(smallS, importThroughWindow(small, &smallEnd));
            bigS = std::min(bigS, importThroughWindow(big, &bigEnd));
            // The bare copy of the extra rows alone, into the emptied table.
            emptyTable(big.target, "PAT_DEPRECIACAO");
            bareS = std::min(bareS, bareCopy(big, depColumns, "PAT_DEPRECIACAO") * extra /
                                        static_cast<double>(base + extra));
        }
        const double added = bigS - smallS;
        std::printf(
            "2. whole import through the window: %.1f s, with %d more depreciations "
            "%.1f s (ended \"%s\")\n",
            smallS, extra, bigS, qPrintable(bigEnd.simplified()));
        std::printf(
            "   added %.1f s; bare copy of those rows %.1f s; added / bare %.2f "
            "(goal 0.20 at most): %s\n",
            added, bareS, added / bareS, added <= bareS / 5 ? "ok" : "SHORT");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "window_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
