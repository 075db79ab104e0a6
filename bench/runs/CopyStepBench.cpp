// The copy steps themselves (the import's step functions on register databases) against the
// honest bare loop (support/BareCopy.h) doing the same INSERTs and commits, on the same server
// in the same run, best of two each, in turn; with the peak memory of the large copy.
//
//   copysteps_bench [rows for the every-500 step, default 200000] [rows for the per-row step,
//                   default 5000] [step|bare: one side once, for profiling]

#include <QCoreApplication>
#include <cstdio>

#include "BareCopy.h"
#include "BenchMain.h"
#include "BenchSupport.h"
#include "BenchTiming.h"
#include "QuietHost.h"
#include "core/RunCounters.h"
#include "db/DataModule.h"
#include "runs/ImportRun.h"

namespace {

using namespace patrimonio;
using namespace patrimonio::bench;

// A register pair whose source holds `rows` rows in `table` and none in the others.
DatabasePair makePair(const Workspace& work, const QString& name, const QString& table, int rows) {
    const DatabasePair p = makeDatabasePair(work.path(), name, SourceView::With);
    QStringList args{"--source", p.source, "--no-photos"};
    for (const char* t :
         {"PAT_RESPONSAVEL", "PAT_TIPOBEM", "PAT_LOCALIZACAO", "PAT_SUBLOCALIZACAO",
          "PAT_BEM_VALOR", "PAT_BEM", "PAT_DEPRECIACAO_CONTROLE", "PAT_DEPRECIACAO",
          "PAT_REAVALIACAO", "PAT_BAIXA", "PAT_TRANSFERENCIA", "PAT_DEPRECIACAO_ANUAL"}) {
        args << "--rows"
             << QString::fromLatin1(t) + "=" + (table == t ? QString::number(rows) : "0");
    }
    generateRegister(args);
    return p;
}

double stepCopy(const DatabasePair& p, void (ImportRun::*step)()) {
    DataModule data;
    openPair(data, p);
    RunCounters counters;
    QuietHost host;
    ImportRun run(data, counters, host);
    return secondsOf([&] { (run.*step)(); });
}

struct Copy {
    const char* what;
    QByteArray table, columns;
    void (ImportRun::*step)();
    Commits commits;
};

// Both sides in turn, each into an emptied target, best of two.
void compare(const DatabasePair& p, const Copy& c, int rows) {
    const std::vector<double> best =
        bestOf(2, {[&] {
                       emptyTable(p.target, c.table);
                       return stepCopy(p, c.step);
                   },
                   [&] {
                       emptyTable(p.target, c.table);
                       return bareCopy(p, c.table, c.columns, c.commits).seconds;
                   }});
    std::printf("%-34s %7d rows  step %8.0f rows/s  bare %8.0f rows/s  step/bare %.2f\n", c.what,
                rows, perSecond(rows, best[0]), perSecond(rows, best[1]), best[1] / best[0]);
}

}  // namespace

int main(int argc, char** argv) {
    return benchMain(argc, argv, "copysteps_bench", [](const Args& args, Workspace& work) {
        const int bigRows = args.number(1, 200000);
        const int rowRows = args.number(2, 5000);
        const Copy dep{"PAT_DEPRECIACAO, every 500 rows", "PAT_DEPRECIACAO",
                       "DEP_CODIGO, BEM_CODIGO, DC_CODIGO, DEP_DATA, DEP_VALOR, "
                       "DEP_VALOR_ACUMULADO, DEP_TAXA",
                       &ImportRun::SetImport_Depreciacao, Commits::Every500Rows};
        const DatabasePair big = makePair(work, "dep", dep.table, bigRows);
        if (args.is(3, "step") || args.is(3, "bare")) {
            std::fprintf(stderr, "ready, pid %lld\n", QCoreApplication::applicationPid());
            if (qEnvironmentVariableIsSet("BENCH_WAIT")) std::getchar();
            const double s = args.is(3, "step")
                                 ? stepCopy(big, dep.step)
                                 : bareCopy(big, dep.table, dep.columns, dep.commits).seconds;
            std::printf("%s: %.0f rows/s\n", qPrintable(args.text(3)), perSecond(bigRows, s));
            return 0;
        }
        const long before = peakKiB();
        compare(big, dep, bigRows);
        std::printf("peak memory: %ld KB before the copies, %ld KB after them\n", before,
                    peakKiB());
        const Copy res{"PAT_RESPONSAVEL, every row", "PAT_RESPONSAVEL",
                       "RES_CODIGO, RES_NOME, RES_CPF, RES_CARGO, RES_MATRICULA, RES_ATIVO, "
                       "RES_DATAINCLUSAO",
                       &ImportRun::SetImport_Responsaveis, Commits::EveryRow};
        compare(makePair(work, "res", res.table, rowRows), res, rowRows);
        return 0;
    });
}
