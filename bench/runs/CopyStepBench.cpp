// Copy-step throughput against a bare OO API loop doing the same INSERTs and commits on the
// same server in the same run, and the peak memory of the large copy.
//
//   copysteps_bench [rows for the every-500 step, default 200000] [rows for the per-row step,
//                   default 5000]

#include <firebird/Interface.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <stdexcept>

#include "BenchDatabases.h"
#include "BenchSupport.h"
#include "QuietHost.h"
#include "TestDatabase.h"
#include "core/RunCounters.h"
#include "db/DataModule.h"
#include "runs/ImportRun.h"

namespace {

using namespace patrimonio;
using namespace patrimonio::test;
using namespace patrimonio::bench;
using namespace Firebird;

void generate(const QString& source, const QString& table, int rows) {
    QStringList args{"--source", source, "--no-photos"};
    for (const char* t :
         {"PAT_RESPONSAVEL", "PAT_TIPOBEM", "PAT_LOCALIZACAO", "PAT_SUBLOCALIZACAO",
          "PAT_BEM_VALOR", "PAT_BEM", "PAT_DEPRECIACAO_CONTROLE", "PAT_DEPRECIACAO",
          "PAT_REAVALIACAO", "PAT_BAIXA", "PAT_TRANSFERENCIA", "PAT_DEPRECIACAO_ANUAL"}) {
        args << "--rows"
             << QString::fromLatin1(t) + "=" + (table == t ? QString::number(rows) : "0");
    }
    generateRegister(args);
}

DatabasePair makePair(const TempFolder& folder, const QString& name, const QString& table,
                      int rows) {
    const DatabasePair p = makeDatabasePair(folder.path(), name, SourceView::With);
    generate(p.source, table, rows);
    return p;
}

double stepCopy(const DatabasePair& p, void (ImportRun::*step)()) {
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

void emptyTarget(const DatabasePair& p, const QString& table) {
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
        const DatabasePair big = makePair(folder, "dep", dep, bigRows);
        const QByteArray depColumns =
            "DEP_CODIGO, BEM_CODIGO, DC_CODIGO, DEP_DATA, DEP_VALOR, DEP_VALOR_ACUMULADO, DEP_TAXA";
        if (only == "step" || only == "bare") {
            std::fprintf(stderr, "ready, pid %lld\n", QCoreApplication::applicationPid());
            if (qEnvironmentVariableIsSet("BENCH_WAIT")) std::getchar();
            const double s = only == "step" ? stepCopy(big, &ImportRun::SetImport_Depreciacao)
                                            : bareCopy(big, depColumns, "PAT_DEPRECIACAO",
                                                       Commits::Every500Rows);
            std::printf("%s: %.0f rows/s\n", only.constData(), bigRows / s);
            return 0;
        }
        const long before = peakKiB();
        const double step1 = stepCopy(big, &ImportRun::SetImport_Depreciacao);
        const long peak = peakKiB();
        emptyTarget(big, dep);
        const double bare1 = bareCopy(big, depColumns, "PAT_DEPRECIACAO", Commits::Every500Rows);
        emptyTarget(big, dep);
        const double step2 = stepCopy(big, &ImportRun::SetImport_Depreciacao);
        emptyTarget(big, dep);
        const double bare2 = bareCopy(big, depColumns, "PAT_DEPRECIACAO", Commits::Every500Rows);
        report("PAT_DEPRECIACAO, every 500 rows", bigRows, std::min(step1, step2),
               std::min(bare1, bare2));
        std::printf("peak memory: %ld KB before the copy, %ld KB after it\n", before, peak);

        const QString res = QStringLiteral("PAT_RESPONSAVEL");
        const DatabasePair small = makePair(folder, "res", res, rowRows);
        const QByteArray resColumns =
            "RES_CODIGO, RES_NOME, RES_CPF, RES_CARGO, RES_MATRICULA, RES_ATIVO, RES_DATAINCLUSAO";
        const double s1 = stepCopy(small, &ImportRun::SetImport_Responsaveis);
        emptyTarget(small, res);
        const double b1 = bareCopy(small, resColumns, "PAT_RESPONSAVEL", Commits::EveryRow);
        emptyTarget(small, res);
        const double s2 = stepCopy(small, &ImportRun::SetImport_Responsaveis);
        emptyTarget(small, res);
        const double b2 = bareCopy(small, resColumns, "PAT_RESPONSAVEL", Commits::EveryRow);
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
