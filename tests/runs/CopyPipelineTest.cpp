// The plain copy steps run as a pipeline (runs/CopyPipeline.h). Each case runs the real step on
// one pair of databases and, on a second pair made alike, the row-by-row copy through one record
// set that the steps made before (a write-back at the step's cadence, one packet after another):
// the two must leave the same target, byte for byte, the same events in the same order (statuses,
// gauge, counters, pumps, refused rows in the log) and the same counts, and end the same way.

#include <gtest/gtest.h>

#include <QSet>
#include <functional>
#include <ostream>

#include "RegisterPair.h"
#include "core/Errors.h"
#include "core/StatusConvention.h"
#include "db/RecordSet.h"
#include "db/TableNames.h"
#include "runs/PlainCopy.h"
#include "runs/RowCopy.h"
#include "runs/WriteBack.h"

namespace patrimonio::test {
namespace {

using Step = void (ImportRun::*)();

// The stop the steps raise after a whole write-back, as ImportRun words it.
[[noreturn]] void stopAfterWriteBack(const TableTally& tally) {
    throw RunStopped(QStringLiteral("Execução interrompida pelo operador em %1, depois de uma "
                                    "gravação completa: %2 registros gravados nessa tabela.")
                         .arg(tally.table)
                         .arg(tally.written));
}

// The copy as the steps made it before the pipeline: the whole source loaded, then row after
// row into the one target record set, written back at the cadence.
void rowByRowCopy(DataModule& data, RunHost& host, ImportReport& report, const PlainCopy& step) {
    openPhase(host, step.status);
    RecordSet& source = data.CdsNovo;
    RecordSet& target = data.CdsAtualiza;
    const QString select = QStringLiteral("SELECT * FROM ") + step.table;
    reopen(source, select);
    reopen(target, select);
    if (step.rowCounter) setRangeMinFirst(host, source.RecordCount());
    TableTally& tally = report.table(step.table);
    const auto stopPoint = [&] {
        if (host.stopRequested()) stopAfterWriteBack(tally);
    };
    source.First();
    const int n = source.RecordCount();
    tally.read += n;
    for (int j = 0; j < n; ++j) {
        if (step.newRow == PlainCopy::NewRow::Append) {
            target.Append();
        } else {
            target.Insert();
        }
        copyRow(RecordRow(source), target, step.table, [&](int, const QString& name) {
            return step.skipsBvCodigo && name == columns::BV_CODIGO ? ColumnRule::LeftOut
                                                                    : ColumnRule::Copied;
        });
        target.Post();
        if (step.cadence == PlainCopy::Cadence::EveryRow) {
            writeBack(target, host, tally);
            stopPoint();
            source.Next();
        } else {
            source.Next();
            if (j % 500 == 0) {
                writeBack(target, host, tally);
                stopPoint();
            }
        }
        if (step.rowCounter) {
            if (!source.Eof()) showRowCounter(host, j);
            keepAlive(host);
        }
        host.rowsDone(1);
    }
    if (step.cadence == PlainCopy::Cadence::Every500Rows) {
        writeBack(target, host, tally);
        stopPoint();
    }
    closePhase(host);
}

class StoppingHost : public RecordingHost {
public:
    bool stop = false;
    bool stopRequested() const override { return stop; }
};

// How a copy ended and what it left.
struct Ending {
    QStringList events;
    QStringList contents;  // every row of the target
    QString error;         // the message it raised, empty when it ran to its end
    bool connectionLost = false;
    int read = -1, written = -1, refused = -1;
};

bool operator==(const Ending& a, const Ending& b) {
    return a.events == b.events && a.contents == b.contents && a.error == b.error &&
           a.connectionLost == b.connectionLost && a.read == b.read && a.written == b.written &&
           a.refused == b.refused;
}

void PrintTo(const Ending& e, std::ostream* os) {
    *os << "error \"" << e.error.toStdString() << "\" lost " << e.connectionLost << ", read "
        << e.read << ", written " << e.written << ", refused " << e.refused << ", "
        << e.contents.size() << " target rows, " << e.events.size() << " events; log:\n"
        << e.events.filter(QStringLiteral("log:")).join('\n').toStdString();
}

struct Case {
    const char* name = "";
    const char* table = "";
    int rows = 0;
    QByteArray sourceChanges;  // after the rows are made
    QByteArray targetDdl;      // after the table is made
    QByteArray targetTable;    // the target's table when it differs from the source's
    // Called at the pump of the given row (the first pump is the step's opening).
    int actAtRow = -1;
    std::function<void(const QString& sourcePath, const QString& targetPath, StoppingHost&)> act;
};

Case copyCase(const char* name, const char* table, int rows, QByteArray sourceChanges = {},
              QByteArray targetDdl = {}, QByteArray targetTable = {}) {
    Case c;
    c.name = name;
    c.table = table;
    c.rows = rows;
    c.sourceChanges = std::move(sourceChanges);
    c.targetDdl = std::move(targetDdl);
    c.targetTable = std::move(targetTable);
    return c;
}

// A case that acts at the pump of a row.
Case actingCase(const char* name, const char* table, int rows, int row,
                std::function<void(const QString&, const QString&, StoppingHost&)> act) {
    Case c = copyCase(name, table, rows);
    c.actAtRow = row;
    c.act = std::move(act);
    return c;
}

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

// A depreciation-like and a write-off-like table: the first copied every 500 rows with
// BV_CODIGO left out, the second row by row.
QByteArray tableDdl(const QString& table) {
    if (table == QLatin1String("PAT_DEPRECIACAO"))
        return "CREATE TABLE PAT_DEPRECIACAO (DEP_CODIGO INTEGER NOT NULL PRIMARY KEY, "
               "BEM_CODIGO INTEGER, BV_CODIGO INTEGER, DEP_TEXTO VARCHAR(40), "
               "DEP_VALOR NUMERIC(15,2), DEP_DATA DATE, DEP_NOTA BLOB SUB_TYPE TEXT);\n";
    return "CREATE TABLE PAT_BAIXA (BAI_CODIGO INTEGER NOT NULL PRIMARY KEY, BEM_CODIGO INTEGER, "
           "BAI_TEXTO VARCHAR(40), BAI_DATA DATE);\n";
}

QByteArray rowsDml(const QString& table, int rows) {
    if (table == QLatin1String("PAT_DEPRECIACAO"))
        return QStringLiteral(
                   "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= %1) DO BEGIN\n"
                   "  INSERT INTO PAT_DEPRECIACAO VALUES (:I, :I, MOD(:I, 7), 'Dep ' || :I, "
                   ":I * 1.25, DATEADD(:I DAY TO DATE '2020-01-01'), "
                   "IIF(MOD(:I, 100) = 0, 'nota ' || :I, NULL));\n"
                   "  I = I + 1; END END\n")
            .arg(rows)
            .toLatin1();
    return QStringLiteral(
               "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= %1) DO BEGIN\n"
               "  INSERT INTO PAT_BAIXA VALUES (:I, :I, 'Baixa ' || :I, "
               "DATEADD(:I DAY TO DATE '2020-01-01'));\n"
               "  I = I + 1; END END\n")
        .arg(rows)
        .toLatin1();
}

class CopyPipelineMatchesTheRowByRowCopy : public ::testing::TestWithParam<Case> {
protected:
    // Runs the step (pipelined) or the row-by-row copy on a pair of its own.
    Ending copy(bool pipelined) {
        const Case& c = GetParam();
        const QString table = QString::fromLatin1(c.table);
        RegisterPair pair = RegisterPair::custom(
            tableDdl(table),
            (c.targetTable.isEmpty() ? tableDdl(table) : c.targetTable) + c.targetDdl);
        runIsql("SET TERM ^ ;\n" + rowsDml(table, c.rows) + "^\nSET TERM ; ^\ncommit;\n" +
                    c.sourceChanges + "\ncommit;\n",
                pair.sourcePath);
        StoppingHost host;
        int pumps = 0;
        host.onPump = [&] {
            const int row = pumps++ - 1;
            if (row == c.actAtRow && c.act) c.act(pair.sourcePath, pair.targetPath, host);
        };
        ImportRun run(pair.data, pair.counters, host);
        ImportReport reference;
        Ending e;
        try {
            if (pipelined) {
                const Step step = table == QLatin1String("PAT_DEPRECIACAO")
                                      ? &ImportRun::SetImport_Depreciacao
                                      : &ImportRun::SetImport_PatBaixas;
                (run.*step)();
            } else {
                rowByRowCopy(pair.data, host, reference, *findPlainCopy(table));
            }
        } catch (const DatabaseError& error) {
            e.error = error.message();
            e.connectionLost = error.connectionLost();
        } catch (const AppError& error) {
            // A stop too: its message says where.
            e.error = error.message();
        }
        ImportReport& report = pipelined ? const_cast<ImportReport&>(run.report()) : reference;
        if (const TableTally* t = report.find(table)) {
            e.read = t->read;
            e.written = t->written;
            e.refused = t->refused;
        }
        e.events = host.events;
        pair.data.Con_Velho.Close();
        pair.data.Con_Novo.Close();
        e.contents = databaseContents(pair.targetPath);
        return e;
    }
};

TEST_P(CopyPipelineMatchesTheRowByRowCopy, SameTargetSameEventsSameEnd) {
    const Ending pipelined = copy(true);
    const Ending rowByRow = copy(false);
    EXPECT_EQ(pipelined, rowByRow);
    // Nothing is reported twice: a refused row has one line.
    const QStringList log = pipelined.events.filter(QStringLiteral("log:"));
    EXPECT_EQ(log.size(), QSet<QString>(log.begin(), log.end()).size());
}

// Shuts down the other attachments of a database (the run's), as a lost network would.
void cutOff(const QString& path) {
    runIsql("delete from mon$attachments where mon$attachment_id <> current_connection;\ncommit;\n",
            path);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CopyPipelineMatchesTheRowByRowCopy,
    ::testing::Values(
        copyCase("Plain", "PAT_DEPRECIACAO", 1234), copyCase("Empty", "PAT_DEPRECIACAO", 0),
        copyCase("OneRowPastAWriteBack", "PAT_DEPRECIACAO", 501),
        // Write-backs go in packets of at most 256 rows: 1-256 and 257-500 are two packets of
        // one write-back, 501-756 a packet of the next.
        copyCase("DuplicateKeysInTwoPackets", "PAT_DEPRECIACAO", 1200,
                 "UPDATE PAT_DEPRECIACAO SET BEM_CODIGO = 10 WHERE DEP_CODIGO = 300;\n"
                 "UPDATE PAT_DEPRECIACAO SET BEM_CODIGO = 20 WHERE DEP_CODIGO IN (600, 1100);\n"
                 "UPDATE PAT_DEPRECIACAO SET BEM_CODIGO = 258 WHERE DEP_CODIGO = 259;\n",
                 "CREATE UNIQUE INDEX UQ_DEP_BEM ON PAT_DEPRECIACAO (BEM_CODIGO);\n"),
        copyCase("ForeignKeyRefusedInTheLastPacket", "PAT_DEPRECIACAO", 1200, {},
                 "CREATE TABLE PAT_BEM_PAI (BEM_CODIGO INTEGER NOT NULL PRIMARY KEY);\n"
                 "ALTER TABLE PAT_DEPRECIACAO ADD CONSTRAINT FK_DEP_BEM FOREIGN KEY (BEM_CODIGO) "
                 "REFERENCES PAT_BEM_PAI;\n"
                 "SET TERM ^ ;\n"
                 "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= 1200) DO BEGIN\n"
                 "  IF (I <> 1190) THEN INSERT INTO PAT_BEM_PAI VALUES (:I); I = I + 1; END END^\n"
                 "SET TERM ; ^\n"),
        copyCase("TriggerRaises", "PAT_DEPRECIACAO", 1200, {},
                 "CREATE EXCEPTION E_RECUSA 'Depreciação recusada pelo gatilho';\n"
                 "SET TERM ^ ;\n"
                 "CREATE TRIGGER T_RECUSA FOR PAT_DEPRECIACAO BEFORE INSERT AS BEGIN\n"
                 "  IF (NEW.DEP_CODIGO IN (1, 250, 251, 777, 1200)) THEN EXCEPTION E_RECUSA;\n"
                 "END^\n"
                 "SET TERM ; ^\n"),
        // Errors met while building a row end the step where that row's turn comes.
        copyCase("TextTooLongForTheTarget", "PAT_DEPRECIACAO", 1200,
                 "UPDATE PAT_DEPRECIACAO SET DEP_TEXTO = 'longo demais' WHERE DEP_CODIGO = 700;\n",
                 {},
                 "CREATE TABLE PAT_DEPRECIACAO (DEP_CODIGO INTEGER NOT NULL PRIMARY KEY, "
                 "BEM_CODIGO INTEGER, BV_CODIGO INTEGER, DEP_TEXTO VARCHAR(10), "
                 "DEP_VALOR NUMERIC(15,2), DEP_DATA DATE, DEP_NOTA BLOB SUB_TYPE TEXT);\n"),
        copyCase(
            "NullInARequiredColumn", "PAT_DEPRECIACAO", 1200,
            "UPDATE PAT_DEPRECIACAO SET DEP_DATA = NULL WHERE DEP_CODIGO = 502;\n", {},
            "CREATE TABLE PAT_DEPRECIACAO (DEP_CODIGO INTEGER NOT NULL PRIMARY KEY, "
            "BEM_CODIGO INTEGER, BV_CODIGO INTEGER, DEP_TEXTO VARCHAR(40), "
            "DEP_VALOR NUMERIC(15,2), DEP_DATA DATE NOT NULL, DEP_NOTA BLOB SUB_TYPE TEXT);\n"),
        actingCase("TargetLostMidPipeline", "PAT_DEPRECIACAO", 1500, 600,
                   [](const QString&, const QString& target, StoppingHost&) { cutOff(target); }),
        actingCase("StopAskedMidPipeline", "PAT_DEPRECIACAO", 1500, 700,
                   [](const QString&, const QString&, StoppingHost& host) { host.stop = true; }),
        copyCase("EveryRowWithRefusals", "PAT_BAIXA", 40,
                 "UPDATE PAT_BAIXA SET BEM_CODIGO = 3 WHERE BAI_CODIGO IN (9, 33);\n",
                 "CREATE UNIQUE INDEX UQ_BAIXA_BEM ON PAT_BAIXA (BEM_CODIGO);\n"
                 "ALTER TABLE PAT_BAIXA ADD CONSTRAINT CK_BAIXA CHECK (BAI_CODIGO <> 17);\n"),
        actingCase("EveryRowStopped", "PAT_BAIXA", 40, 12,
                   [](const QString&, const QString&, StoppingHost& host) { host.stop = true; })),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// The test above compares two runs; here what they both must show, in figures.
TEST(CopyPipeline, AStopLeavesWholeWriteBacksOnly) {
    RegisterPair pair = RegisterPair::custom(tableDdl(QStringLiteral("PAT_DEPRECIACAO")),
                                             tableDdl(QStringLiteral("PAT_DEPRECIACAO")));
    runIsql("SET TERM ^ ;\n" + rowsDml(QStringLiteral("PAT_DEPRECIACAO"), 1800) +
                "^\nSET TERM ; ^\ncommit;\n",
            pair.sourcePath);
    StoppingHost host;
    int pumps = 0;
    host.onPump = [&] {
        if (pumps++ - 1 == 1200) host.stop = true;
    };
    ImportRun run(pair.data, pair.counters, host);
    try {
        run.SetImport_Depreciacao();
        FAIL() << "the step did not stop";
    } catch (const RunStopped& stopped) {
        EXPECT_EQ(stopped.message(),
                  "Execução interrompida pelo operador em PAT_DEPRECIACAO, depois de uma gravação "
                  "completa: 1501 registros gravados nessa tabela.");
    }
    // Row 0 alone, then 1-500, 501-1000, 1001-1500: the rows built ahead were never sent.
    EXPECT_EQ(pair.targetCount(QStringLiteral("PAT_DEPRECIACAO")), 1501);
    EXPECT_EQ(pair.target(QStringLiteral("SELECT MAX(DEP_CODIGO) FROM PAT_DEPRECIACAO")),
              QStringList{"1501"});
}

// A source lost mid-step: the pipeline has read further ahead than the row-by-row copy had (its
// rows, and the BLOBs of the rows built ahead), so it meets the loss later, but it ends the same
// way: the connection's loss raised, after whole write-backs only, each row reported once.
TEST(CopyPipeline, ASourceLostMidStepEndsItAfterWholeWriteBacks) {
    RegisterPair pair = RegisterPair::custom(tableDdl(QStringLiteral("PAT_DEPRECIACAO")),
                                             tableDdl(QStringLiteral("PAT_DEPRECIACAO")));
    // Every row has a BLOB, read from the source when the row is built.
    runIsql("SET TERM ^ ;\n" + rowsDml(QStringLiteral("PAT_DEPRECIACAO"), 3000) +
                "^\nSET TERM ; ^\ncommit;\nUPDATE PAT_DEPRECIACAO SET DEP_NOTA = 'nota';\n"
                "commit;\n",
            pair.sourcePath);
    StoppingHost host;
    int pumps = 0;
    host.onPump = [&] {
        if (pumps++ - 1 == 600) cutOff(pair.sourcePath);
    };
    ImportRun run(pair.data, pair.counters, host);
    try {
        run.SetImport_Depreciacao();
        FAIL() << "the step did not meet the loss";
    } catch (const DatabaseError& e) {
        EXPECT_TRUE(e.connectionLost()) << e.message().toStdString();
    }
    const TableTally* tally = const_cast<ImportReport&>(run.report()).find("PAT_DEPRECIACAO");
    ASSERT_NE(tally, nullptr);
    EXPECT_EQ(tally->written % 500, 1) << tally->written;
    EXPECT_GE(tally->written, 501);
    EXPECT_EQ(tally->refused, 0);
    EXPECT_EQ(pair.targetCount(QStringLiteral("PAT_DEPRECIACAO")), tally->written);
    EXPECT_EQ(pair.target(QStringLiteral("SELECT MAX(DEP_CODIGO) FROM PAT_DEPRECIACAO")),
              QStringList{QString::number(tally->written)});
    EXPECT_TRUE(host.eventsWith(QStringLiteral("log:")).isEmpty());
    // The rows' pumps stop at the last write-back.
    EXPECT_EQ(host.events.filter(QStringLiteral("pump")).size() - 1, tally->written);
}

}  // namespace
}  // namespace patrimonio::test
