// Copy-step throughput against a bare OO API loop doing the same INSERTs and commits on the
// same server in the same run, and the peak memory of the large copy.
//
//   copysteps_bench [rows for the every-500 step, default 200000] [rows for the per-row step,
//                   default 5000]

#include <firebird/Interface.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "BenchSupport.h"
#include "TestDatabase.h"
#include "core/RunCounters.h"
#include "core/RunHost.h"
#include "db/DataModule.h"
#include "runs/ImportRun.h"

namespace {

using namespace patrimonio;
using namespace patrimonio::test;
using namespace patrimonio::bench;
using namespace Firebird;

// The window without the window: no pauses, no painting, nothing recorded.
class QuietHost : public RunHost {
public:
    void setStatus(const QString&) override {}
    void setWork(const QString&) override {}
    void setGaugeMinimum(int) override {}
    void setGaugeMaximum(int value) override { max_ = value; }
    void setGaugeProgress(int) override {}
    int gaugeMaximum() const override { return max_; }
    int gaugeProgress() const override { return 0; }
    void pumpMessages() override {}
    void pause(int) override {}
    void waitResponsive(const std::function<bool(int)>& finished) override {
        while (!finished(-1)) {
        }
    }
    void showPhoto(const PhotoView&) override {}
    void showMessage(const QString&) override {}
    QString qualityText() const override { return QStringLiteral("60"); }
    QString skipListText() const override { return {}; }
    QString logText() const override { return {}; }
    void setLogText(const QString&) override {}
    void appendLogLine(const QString& line) override {
        std::fprintf(stderr, "log: %s\n", qPrintable(line));
    }
    void saveLog() override {}

private:
    int max_ = 0;
};

void generate(const QString& source, const QString& table, int rows) {
    QStringList args{"--source", source, "--no-photos"};
    for (const char* t :
         {"PAT_RESPONSAVEL", "PAT_TIPOBEM", "PAT_LOCALIZACAO", "PAT_SUBLOCALIZACAO",
          "PAT_BEM_VALOR", "PAT_BEM", "PAT_DEPRECIACAO_CONTROLE", "PAT_DEPRECIACAO",
          "PAT_REAVALIACAO", "PAT_BAIXA", "PAT_TRANSFERENCIA", "PAT_DEPRECIACAO_ANUAL"}) {
        args << "--rows"
             << QString::fromLatin1(t) + "=" + (table == t ? QString::number(rows) : "0");
    }
    QProcess gen;
    gen.setProcessChannelMode(QProcess::ForwardedChannels);
    gen.start(QStringLiteral(GENERATE_REGISTER), args);
    if (!gen.waitForFinished(-1) || gen.exitCode() != 0) throw std::runtime_error("generator");
}

// The same copy as the step, written directly: one cursor on the source, one prepared INSERT
// on the target, a commit after row 0 and every 500 rows after it (or after every row).
class BareCopy {
public:
    BareCopy() : master_(fb_get_master_interface()), status_(master_->getStatus()), st_(status_) {}
    ~BareCopy() { status_->dispose(); }

    double run(const QString& source, const QString& target, const QByteArray& columns,
               const QByteArray& table, bool everyRow) {
        IAttachment* src = attach(source);
        IAttachment* dst = attach(target);
        QElapsedTimer timer;
        timer.start();
        ITransaction* rtra = src->startTransaction(&st_, 0, nullptr);
        const QByteArray select = "SELECT " + columns + " FROM " + table;
        IStatement* sel = src->prepare(&st_, rtra, 0, select.constData(), 3, 0);
        IMessageMetadata* meta = sel->getOutputMetadata(&st_);
        std::vector<unsigned char> buffer(meta->getMessageLength(&st_));
        const int n = columns.count(',') + 1;
        const QByteArray insert = "INSERT INTO " + table + " (" + columns + ") VALUES (" +
                                  QByteArray("?, ").repeated(n).chopped(2) + ")";
        ITransaction* wtra = dst->startTransaction(&st_, 0, nullptr);
        IStatement* ins = dst->prepare(&st_, wtra, 0, insert.constData(), 3, 0);
        IResultSet* rs = sel->openCursor(&st_, rtra, nullptr, nullptr, meta, 0);
        int j = 0;
        while (rs->fetchNext(&st_, buffer.data()) == IStatus::RESULT_OK) {
            if (!wtra) wtra = dst->startTransaction(&st_, 0, nullptr);
            ins->execute(&st_, wtra, meta, buffer.data(), nullptr, nullptr);
            if (everyRow || j % 500 == 0) {
                wtra->commit(&st_);
                wtra = nullptr;
            }
            ++j;
        }
        if (wtra) wtra->commit(&st_);
        rs->close(&st_);
        const double seconds = timer.nsecsElapsed() / 1e9;
        ins->free(&st_);
        sel->free(&st_);
        meta->release();
        rtra->commit(&st_);
        src->detach(&st_);
        dst->detach(&st_);
        return seconds;
    }

private:
    IAttachment* attach(const QString& path) {
        IXpbBuilder* dpb =
            master_->getUtilInterface()->getXpbBuilder(&st_, IXpbBuilder::DPB, nullptr, 0);
        dpb->insertString(&st_, isc_dpb_user_name, "SYSDBA");
        dpb->insertString(&st_, isc_dpb_password, "quillfern");
        const QByteArray db = (kServerPrefix + path).toUtf8();
        IProvider* prov = master_->getDispatcher();
        IAttachment* att = prov->attachDatabase(&st_, db.constData(), dpb->getBufferLength(&st_),
                                                dpb->getBuffer(&st_));
        dpb->dispose();
        prov->release();
        return att;
    }

    IMaster* master_;
    IStatus* status_;
    ThrowStatusWrapper st_;
};

struct Pair {
    QString source, target;
};

Pair makePair(const TempFolder& folder, const QString& name, const QString& table, int rows) {
    Pair p{createDatabase(folder.path(name + "-origem.fdb"),
                          test::fixtureFile("schema.sql") + test::fixtureFile("source-view.sql")),
           createDatabase(folder.path(name + "-destino.fdb"), test::fixtureFile("schema.sql"))};
    generate(p.source, table, rows);
    return p;
}

double stepCopy(const Pair& p, void (ImportRun::*step)()) {
    DataModule data;
    data.Con_Novo.Params = Connection::editParams(kServerPrefix + p.source);
    data.Con_Velho.Params = Connection::editParams(kServerPrefix + p.target);
    data.Con_Novo.Open();
    data.Con_Velho.Open();
    RunCounters counters;
    QuietHost host;
    ImportRun run(data, counters, host);
    QElapsedTimer timer;
    timer.start();
    (run.*step)();
    return timer.nsecsElapsed() / 1e9;
}

void emptyTarget(const Pair& p, const QString& table) {
    runIsql(("DELETE FROM " + table + ";\ncommit;\n").toLatin1(), p.target);
}

void report(const char* what, int rows, double stepSeconds, double bareSeconds) {
    std::printf("%-34s %7d rows  step %8.0f rows/s  bare %8.0f rows/s  ratio %.2f\n", what, rows,
                rows / stepSeconds, rows / bareSeconds, bareSeconds / stepSeconds);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int bigRows = argc > 1 ? std::atoi(argv[1]) : 200000;
    const int rowRows = argc > 2 ? std::atoi(argv[2]) : 5000;
    // "step" or "bare" runs one side only, once (for profiling); anything else both, twice.
    const QByteArray only = argc > 3 ? QByteArray(argv[3]) : QByteArray();
    TempFolder folder;
    try {
        const QString dep = QStringLiteral("PAT_DEPRECIACAO");
        const Pair big = makePair(folder, "dep", dep, bigRows);
        const QByteArray depColumns =
            "DEP_CODIGO, BEM_CODIGO, DC_CODIGO, DEP_DATA, DEP_VALOR, DEP_VALOR_ACUMULADO, DEP_TAXA";
        if (only == "step" || only == "bare") {
            std::fprintf(stderr, "ready, pid %lld\n", QCoreApplication::applicationPid());
            if (qEnvironmentVariableIsSet("BENCH_WAIT")) std::getchar();
            const double s = only == "step" ? stepCopy(big, &ImportRun::SetImport_Depreciacao)
                                            : BareCopy().run(big.source, big.target, depColumns,
                                                             "PAT_DEPRECIACAO", false);
            std::printf("%s: %.0f rows/s\n", only.constData(), bigRows / s);
            return 0;
        }
        const long before = peakKiB();
        const double step1 = stepCopy(big, &ImportRun::SetImport_Depreciacao);
        const long peak = peakKiB();
        emptyTarget(big, dep);
        const double bare1 =
            BareCopy().run(big.source, big.target, depColumns, "PAT_DEPRECIACAO", false);
        emptyTarget(big, dep);
        const double step2 = stepCopy(big, &ImportRun::SetImport_Depreciacao);
        emptyTarget(big, dep);
        const double bare2 =
            BareCopy().run(big.source, big.target, depColumns, "PAT_DEPRECIACAO", false);
        report("PAT_DEPRECIACAO, every 500 rows", bigRows, std::min(step1, step2),
               std::min(bare1, bare2));
        std::printf("peak memory: %ld KB before the copy, %ld KB after it\n", before, peak);

        const QString res = QStringLiteral("PAT_RESPONSAVEL");
        const Pair small = makePair(folder, "res", res, rowRows);
        const QByteArray resColumns =
            "RES_CODIGO, RES_NOME, RES_CPF, RES_CARGO, RES_MATRICULA, RES_ATIVO, RES_DATAINCLUSAO";
        const double s1 = stepCopy(small, &ImportRun::SetImport_Responsaveis);
        emptyTarget(small, res);
        const double b1 =
            BareCopy().run(small.source, small.target, resColumns, "PAT_RESPONSAVEL", true);
        emptyTarget(small, res);
        const double s2 = stepCopy(small, &ImportRun::SetImport_Responsaveis);
        emptyTarget(small, res);
        const double b2 =
            BareCopy().run(small.source, small.target, resColumns, "PAT_RESPONSAVEL", true);
        report("PAT_RESPONSAVEL, every row", rowRows, std::min(s1, s2), std::min(b1, b2));
    } catch (const FbException& e) {
        char buf[1024];
        fb_get_master_interface()->getUtilInterface()->formatStatus(buf, sizeof buf, e.getStatus());
        std::fprintf(stderr, "copysteps_bench: %s\n", buf);
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "copysteps_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
