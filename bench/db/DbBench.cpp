// Record sets against a bare loop on the client's OO API doing the same work with one prepared
// statement: opening a 200,000-row table of 8 columns, and writing 200,000 appended rows back
// in write-backs of 500. Prints both figures and their ratio.

#include <firebird/Interface.h>
#include <malloc.h>

#include <QElapsedTimer>
#include <cstdio>
#include <cstring>
#include <vector>

#include "BareClient.h"
#include "BenchDatabases.h"
#include "BenchMain.h"
#include "TestDatabase.h"
#include "db/Connection.h"
#include "db/RecordSet.h"

using namespace patrimonio;
using namespace patrimonio::bench;
using namespace Firebird;

namespace {

constexpr int kRows = 200000;
constexpr int kBatch = 500;

const char* const kColumns =
    "(ID integer not null primary key, NOME varchar(30), CODIGO integer, VALOR numeric(15,2),\n"
    " DATA date, TAXA double precision, SIGLA char(4), OBS varchar(20))";

size_t heapInUse() {
    return mallinfo2().uordblks;
}

// The bare loop's own attachment and its two loops.
struct Bare {
    explicit Bare(const QString& database) : att(client.attach(database)) {}
    ~Bare() { att->detach(&client.st()); }

    // Fetches every row into one buffer; returns the message length.
    unsigned fetchAll(const char* sql, int* rows) {
        ThrowStatusWrapper& st = client.st();
        ITransaction* tra = client.begin(att, BareClient::Access::ReadWrite);
        IStatement* stmt = att->prepare(&st, tra, 0, sql, 3, IStatement::PREPARE_PREFETCH_METADATA);
        IMessageMetadata* out = stmt->getOutputMetadata(&st);
        const unsigned len = out->getMessageLength(&st);
        std::vector<unsigned char> buffer(len);
        IResultSet* rs = stmt->openCursor(&st, tra, nullptr, nullptr, out, 0);
        *rows = 0;
        while (rs->fetchNext(&st, buffer.data()) == IStatus::RESULT_OK) ++*rows;
        rs->close(&st);
        out->release();
        stmt->free(&st);
        tra->commit(&st);
        return len;
    }

    // Inserts rows first..first+count-1 with one prepared statement, committing every kBatch rows.
    void insertRows(int first, int count) {
        ThrowStatusWrapper& st = client.st();
        ITransaction* tra = client.begin(att, BareClient::Access::ReadWrite);
        IStatement* stmt = att->prepare(&st, tra, 0,
                                        "insert into W1 (ID, NOME, CODIGO, VALOR, DATA, TAXA, "
                                        "SIGLA, OBS) values (?, ?, ?, ?, ?, ?, ?, ?)",
                                        3, IStatement::PREPARE_PREFETCH_METADATA);
        IMessageMetadata* in = stmt->getInputMetadata(&st);
        std::vector<unsigned char> msg(in->getMessageLength(&st), 0);
        auto at = [&](unsigned i) { return msg.data() + in->getOffset(&st, i); };
        for (int r = first; r < first + count; ++r) {
            const int id = r + 1;
            std::memcpy(at(0), &id, 4);
            char name[32];
            const int n = std::snprintf(name, sizeof name, "nome do bem %d", id);
            const unsigned short len = static_cast<unsigned short>(n);
            std::memcpy(at(1), &len, 2);
            std::memcpy(at(1) + 2, name, len);
            std::memcpy(at(2), &id, 4);
            const std::int64_t value = id * 125LL;
            std::memcpy(at(3), &value, 8);
            const int day = 60000 + r % 1000;
            std::memcpy(at(4), &day, 4);
            const double rate = id / 7.0;
            std::memcpy(at(5), &rate, 8);
            std::memcpy(at(6), "ABCD", 4);
            const unsigned short obsLen = 5;
            std::memcpy(at(7), &obsLen, 2);
            std::memcpy(at(7) + 2, "livre", 5);
            stmt->execute(&st, tra, in, msg.data(), nullptr, nullptr);
            if ((r + 1) % kBatch == 0) {
                tra->commit(&st);
                tra = client.begin(att, BareClient::Access::ReadWrite);
            }
        }
        tra->commit(&st);
        in->release();
        stmt->free(&st);
    }

    BareClient client;
    IAttachment* att;
};

void line(const char* what, double bare, double ours, const char* unit) {
    std::printf("%-44s %12.0f %12.0f %s   ratio %.2f\n", what, bare, ours, unit, ours / bare);
}

}  // namespace

int main(int argc, char** argv) {
    return benchMain(argc, argv, "db_bench", [](const Args&, Workspace& work) {
        const QString path =
            test::createDatabase(work.path(QStringLiteral("bench.fdb")),
                                 QByteArray("create table B8 ") + kColumns + ";\ncreate table W1 " +
                                     kColumns + ";\ncreate table W2 " + kColumns + ";\n");
        const QString database = test::kServerPrefix + path;
        Connection con(QStringLiteral("Con_Bench"));
        con.Params = Connection::editParams(database);
        fillRows(database, QStringLiteral("B8"), kRows,
                 QStringLiteral(":i, 'nome do bem ' || :i, :i, :i * 1.25, dateadd(mod(:i, 1000) "
                                "day to date '2020-01-01'), :i / 7.0, 'ABCD', 'livre'"));
        Bare bare(database);

        std::printf("%-44s %12s %12s\n", "", "bare loop", "record set");
        // Open: best of three each, alternating.
        double bareBest = 0, oursBest = 0, perRow = 0;
        unsigned msgLen = 0;
        for (int round = 0; round < 3; ++round) {
            int n = 0;
            QElapsedTimer t;
            t.start();
            msgLen = bare.fetchAll("select * from B8", &n);
            bareBest = std::max(bareBest, n / (t.nsecsElapsed() / 1e9));

            RecordSet rs(con);
            rs.setCommandText(QStringLiteral("select * from B8"));
            const size_t before = heapInUse();
            t.restart();
            rs.Open();
            oursBest = std::max(oursBest, rs.RecordCount() / (t.nsecsElapsed() / 1e9));
            const double used = static_cast<double>(heapInUse() - before);
            perRow = used / rs.RecordCount() - msgLen;
            if (rs.RecordCount() != n || n != kRows)
                std::printf("row counts differ: %d %d\n", n, rs.RecordCount());
        }
        line("open 200,000 rows x 8 columns (rows/s)", bareBest, oursBest, "rows/s");
        std::printf("%-44s %12u %12.1f bytes (raw row = %u bytes)\n",
                    "memory per row above raw data", 0u, perRow, msgLen);

        // Write-back: 200,000 appended rows in write-backs of 500, in four rounds that alternate
        // with the bare loop so that both see the same load on a shared machine.
        RecordSet w(con);
        w.setCommandText(QStringLiteral("select * from W2"));
        w.Open();
        constexpr int kRounds = 4, kPerRound = kRows / kRounds;
        double bareSeconds = 0, oursSeconds = 0;
        int refused = 0;
        for (int round = 0; round < kRounds; ++round) {
            const int first = round * kPerRound;
            QElapsedTimer t;
            t.start();
            bare.insertRows(first, kPerRound);
            bareSeconds += t.nsecsElapsed() / 1e9;
            t.restart();
            for (int r = first; r < first + kPerRound; ++r) {
                const int id = r + 1;
                w.Append();
                w.Fields(0).setAsVariant(Value::integer(id));
                w.Fields(1).setAsVariant(
                    Value::text(QByteArray("nome do bem ") + QByteArray::number(id)));
                w.Fields(2).setAsVariant(Value::integer(id));
                w.Fields(3).setAsVariant(Value::integer(id * 125LL, -2));
                w.Fields(4).setAsVariant(Value::date(60000 + r % 1000));
                w.Fields(5).setAsVariant(Value::floating(id / 7.0));
                w.Fields(6).setAsVariant(Value::text("ABCD"));
                w.Fields(7).setAsVariant(Value::text("livre"));
                w.Post();
                if ((r + 1) % kBatch == 0) refused += w.ApplyUpdates(0);
            }
            oursSeconds += t.nsecsElapsed() / 1e9;
        }
        line("write back 200,000 rows, 500 per call", kRows / bareSeconds, kRows / oursSeconds,
             "rows/s");
        if (refused) std::printf("refused rows: %d\n", refused);
        return 0;
    });
}
