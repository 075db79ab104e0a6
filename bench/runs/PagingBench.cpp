// Paging that stays linear, run by hand with the private server up and the pauses at zero:
//   paging_bench [small=20000] [large=200000]
// 1. Reading PAT_BEM whole in pages of 100: with FIRST/SKIP, as the pages were read before,
//    against one cursor kept open (RowCursor); both sizes.
// 2. The asset step over `small` and over `large` assets without photos; the time may grow at
//    most 1.1 times as fast as the number of assets (11x for ten times the assets).
// 3. The photo-only pass over the same sources opened by their bare paths, best of three;
//    likewise.

#include <algorithm>
#include <cstdio>

#include "BenchDatabases.h"
#include "BenchMain.h"
#include "BenchTiming.h"
#include "QuietHost.h"
#include "TestDatabase.h"
#include "core/RunCounters.h"
#include "db/DataModule.h"
#include "db/RowCursor.h"
#include "runs/ImportRun.h"
#include "runs/PhotoPass.h"

using namespace patrimonio;
using namespace patrimonio::bench;

namespace {

// Assets without photos, made on the server in one statement.
DatabasePair makePair(const Workspace& work, int assets) {
    const DatabasePair p =
        makeDatabasePair(work.path(), QString::number(assets), SourceView::Without);
    const QByteArray fill =
        "SET TERM ^ ;\n"
        "EXECUTE BLOCK AS DECLARE i INTEGER = 1; BEGIN\n"
        "  WHILE (i <= " +
        QByteArray::number(assets) +
        ") DO BEGIN\n"
        "    INSERT INTO PAT_BEM (BEM_CODIGO, BEM_PLAQUETA, BEM_DESCRICAO, BEM_DATA_AQUISICAO,\n"
        "      BEM_VALOR_AQUISICAO, BEM_FORNECEDOR, BEM_ESTADO)\n"
        "    VALUES (:i, 'PM-' || :i, 'Cadeira giratoria com bracos, patrimonio ' || :i,\n"
        "      DATEADD(MOD(:i, 3000) DAY TO DATE '2010-01-01'), 250 + MOD(:i, 900), \n"
        "      'COMERCIAL SAO JOAO LTDA', 'B');\n"
        "    i = i + 1;\n"
        "  END\n"
        "END^\n"
        "SET TERM ; ^\n"
        "commit;\n";
    test::runIsql(fill, p.source);
    return p;
}

// Every row of PAT_BEM in pages of 100 into a record set; returns the rows read.
int readPages(Connection& c, bool skipPaging) {
    RecordSet rs(c);
    int rows = 0;
    if (skipPaging) {
        for (int offset = 0;; offset += 100) {
            reopen(rs, QStringLiteral("SELECT FIRST 100 SKIP %1 * FROM PAT_BEM ORDER BY "
                                      "BEM_CODIGO ASC")
                           .arg(offset));
            rows += rs.RecordCount();
            if (rs.RecordCount() < 100) return rows;
        }
    }
    RowCursor cursor(c, QStringLiteral("SELECT * FROM PAT_BEM ORDER BY BEM_CODIGO ASC"));
    for (;;) {
        rs.openPage(cursor, 100);
        rows += rs.RecordCount();
        if (rs.RecordCount() < 100) return rows;
    }
}

struct Figures {
    double skipPaging = 0, cursor = 0, step = 0, pass = 0;
};

Figures measure(const DatabasePair& p, int assets) {
    Figures f;
    {
        DataModule data;
        openPair(data, p);
        f.skipPaging = secondsOf([&] {
            if (readPages(data.Con_Novo, true) != assets)
                std::fprintf(stderr, "FIRST/SKIP: rows?\n");
        });
        f.cursor = secondsOf([&] {
            if (readPages(data.Con_Novo, false) != assets) std::fprintf(stderr, "cursor: rows?\n");
        });

        RunCounters counters;
        QuietHost host;
        ImportRun run(data, counters, host);
        f.step = secondsOf([&] { run.SetImport_Bens(); });
        if (run.report().tables().front().written != assets)
            std::fprintf(stderr, "asset step: not every asset written\n");
    }
    // Without photos the pass changes nothing, so it can run again: the best of three leaves
    // out a first run that finds the file's pages still on their way from the disk.
    f.pass = bestOf(3, {[&] {
                        // The pass opens the file by its bare path: no server client may hold
                        // it meanwhile.
                        DataModule data;
                        data.Con_Novo.Params = Connection::editParams(p.source);
                        data.Con_Novo.Open();
                        RunCounters counters;
                        QuietHost host;
                        PhotoPass pass(data, counters, host);
                        const double s = secondsOf([&] {
                            if (pass.run() != PhotoPassEnd::Finished)
                                std::fprintf(stderr, "pass: did not finish\n");
                        });
                        if (counters.Total_Geral + counters.Total != assets)
                            std::fprintf(stderr, "pass: %d rows, not %d\n",
                                         counters.Total_Geral + counters.Total, assets);
                        return s;
                    }})[0];
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    return benchMain(argc, argv, "paging_bench", [](const Args& args, Workspace& work) {
        const int small = args.number(1, 20000);
        const int large = args.number(2, 200000);
        const DatabasePair smallPair = makePair(work, small);
        const DatabasePair largePair = makePair(work, large);
        const Figures s = measure(smallPair, small);
        const Figures l = measure(largePair, large);
        const double allowed = 1.1 * large / small;
        const auto line = [&](const char* what, double a, double b, bool judged) {
            std::printf("%-40s %9.2f s %9.2f s  ratio %6.2f%s\n", what, a, b, b / a,
                        !judged            ? ""
                        : b / a <= allowed ? "  ok"
                                           : "  TOO SLOW");
        };
        std::printf("%-40s %9d   %9d     (allowed %.1f)\n", "assets without photos", small, large,
                    allowed);
        line("pages of 100 read with FIRST/SKIP", s.skipPaging, l.skipPaging, false);
        line("pages of 100 read from one cursor", s.cursor, l.cursor, false);
        line("asset step", s.step, l.step, true);
        line("photo-only pass", s.pass, l.pass, true);
        return l.step / s.step <= allowed && l.pass / s.pass <= allowed ? 0 : 1;
    });
}
