// The copy steps' database work against the honest bare loop (support/BareCopy.h), every side
// on the same server in the same run, each in a process of its own so that its peak memory is
// its own:
// - the every-500 copy of PAT_DEPRECIACAO-like rows at 200,000 and 1,000,000 rows: ours (the
//   plain copies' pipeline, runs/CopyPipeline.h, with the step's own reporting), the bare loop,
//   the packed loop (the same rows sent as the write-backs send them, in EXECUTE BLOCKs) and the
//   ceiling (the server's own INSERT ... SELECT of the same rows), each as rows per second,
//   against the bare loop and against the ceiling, with peak memory and CPU;
// - the every-row copy of 5,000 PAT_RESPONSAVEL-like rows against the bare loop committing
//   every row.
//
// Run by hand: build/bench/db/copy_bench [rows...] (needs the private server on 127.0.0.1:3052).
//   COPY_BENCH_OLD_BARE=1  adds the bare loop as it was written before: the fetched message handed
//                          to the INSERT as it is, described by the SELECT's metadata
//   COPY_BENCH_OVERLAP=1   adds the packed loop with its commits overlapped on a second attachment
//                          (measured only: the steps may not run a write-back before the last
//                          one is committed)
//   COPY_BENCH_PROFILE=1   says on stderr where the packed loop's time went, with the pages the
//                          server wrote for it at each commit
//   COPY_BENCH_UNFORCED=1  adds the packed loop into a scratch target of its own whose writes
//                          are not forced (measured only: what the commits' disk writes cost)
//   COPY_BENCH_NO_EVERY_ROW=1 leaves out the every-row copy

#include <firebird/Interface.h>

#include <QProcess>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "BareClient.h"
#include "BareCopy.h"
#include "BenchMain.h"
#include "BenchSupport.h"
#include "BenchTiming.h"
#include "QuietHost.h"
#include "TestDatabase.h"
#include "core/StatusConvention.h"
#include "db/ChangeSender.h"
#include "db/Connection.h"
#include "db/RecordSet.h"
#include "db/WriteBackSql.h"
#include "runs/CopyPipeline.h"
#include "runs/ImportReport.h"

using namespace patrimonio;
using namespace patrimonio::bench;
using namespace Firebird;

namespace {

constexpr int kBatch = 500;

const char* const kDepreciation =
    "(DEP_CODIGO integer not null, BEM_CODIGO integer not null, DC_CODIGO integer,\n"
    " BV_CODIGO integer, DEP_DATA date, DEP_VALOR numeric(15,2),\n"
    " DEP_VALOR_ACUMULADO numeric(15,2), DEP_TAXA numeric(5,2),\n"
    " constraint PK_%1 primary key (DEP_CODIGO))";
const char* const kResponsible =
    "(RES_CODIGO integer not null, RES_NOME varchar(60) character set WIN1252 not null,\n"
    " RES_CPF varchar(14), RES_CARGO varchar(40), RES_MATRICULA varchar(10),\n"
    " RES_ATIVO char(1) default 'S', RES_DATAINCLUSAO timestamp,\n"
    " constraint PK_%1 primary key (RES_CODIGO))";

QByteArray table(const char* name, const char* columns) {
    return "create table " + QByteArray(name) + ' ' +
           QString::fromLatin1(columns).arg(QString::fromLatin1(name)).toLatin1() + ";\n";
}

// ---- the sides, each in its own process ---------------------------------------------------

struct Outcome {
    long long rows = 0;
    double ms = 0;
    long peakKiB = 0;
    double cpuMs = 0;        // the side's own process
    double serverCpuMs = 0;  // the server meanwhile (shared: an upper bound)
    double commitMs = 0;     // the bare loop's commits
};

Outcome finished(long long rows, double ms, double commitMs = 0) {
    return {rows, ms, peakKiB(), processCpuMs(), 0, commitMs};
}

// The plain copy step's pipeline with the step's own reporting to a host that shows nothing:
// the source read ahead, the next write-back built while the server runs the last one.
Outcome ours(const QString& source, const QString& target, const QString& tableName,
             bool everyRow) {
    Connection from(QStringLiteral("Con_Novo")), to(QStringLiteral("Con_Velho"));
    from.Params = Connection::editParams(source);
    to.Params = Connection::editParams(target);
    to.Open();
    RecordSet dst(to);
    QuietHost host(QuietHost::LogLines::Dropped);
    const PlainCopy step{tableName,
                         QStringLiteral("Importando."),
                         everyRow ? PlainCopy::NewRow::Append : PlainCopy::NewRow::Insert,
                         false,
                         everyRow ? PlainCopy::Cadence::EveryRow : PlainCopy::Cadence::Every500Rows,
                         !everyRow};
    const double started = wallMs();
    CopyPipeline pipeline(step, from, dst, host);
    const int n = pipeline.rowCount();
    if (step.rowCounter) setRangeMinFirst(host, n);
    TableTally tally{tableName};
    CopyPipeline::Hooks hooks;
    hooks.afterWriteBack = [] {};
    hooks.rowHandled = [&](int j) {
        if (step.rowCounter) {
            if (j + 1 < n) showRowCounter(host, j);
            keepAlive(host);
        }
        host.rowsDone(1);
    };
    pipeline.run(tally, hooks);
    return finished(tally.written, wallMs() - started);
}

Outcome bare(const QString& source, const QString& target, const QString& tableName, bool everyRow,
             Parameters parameters) {
    const BareCopy copy =
        bareCopy(source, target, tableName.toLatin1(), {},
                 everyRow ? Commits::EveryRow : Commits::Every500Rows, parameters);
    return finished(copy.rows, copy.seconds * 1000, copy.commitSeconds * 1000);
}

// The source's rows as the every-500 write-backs take them: row 0 alone, then 500 at a time;
// `send` gets each write-back's fetched messages, one after the other.
template <class Send>
long long forEachWriteBack(IResultSet* cursor, ThrowStatusWrapper& st, std::size_t stride,
                           double* fetchMs, Send&& send) {
    std::vector<unsigned char> rows(stride * kBatch);
    long long copied = 0;
    int held = 0;
    for (long long j = 0;; ++j) {
        const double t = wallMs();
        const bool more = cursor->fetchNext(&st, rows.data() + held * stride) == IStatus::RESULT_OK;
        *fetchMs += wallMs() - t;
        if (!more) break;
        ++held;
        if (j % kBatch == 0) {
            send(rows.data(), held);
            copied += held;
            held = 0;
        }
    }
    if (held) send(rows.data(), held);
    return copied + held;
}

// The packets of one attachment to the target, as the write-backs send new rows: EXECUTE BLOCKs
// of at most kMaxPacketRows rows whose input parameters carry the values (a lone row as a plain
// INSERT), each prepared once, the fetched values copied field by field into its message.
class Packets {
public:
    Packets(IAttachment* target, ThrowStatusWrapper& st, const QString& tableName,
            const QStringList& columns, const std::vector<Slot>& fetched)
        : target_(target),
          st_(st),
          table_(sql::quoted(tableName)),
          columns_(columns),
          fetched_(fetched),
          packets_(detail::kMaxPacketRows + 1) {}
    ~Packets() {
        for (Packet& p : packets_) {
            if (!p.stmt) continue;
            p.in->release();
            p.stmt->free(&st_);
        }
    }

    // Sends `count` fetched messages of `stride` bytes in `tra`.
    void send(ITransaction* tra, const unsigned char* rows, std::size_t stride, int count,
              double* copyMs, double* executeMs) {
        const std::size_t n = fetched_.size();
        for (int first = 0; first < count;) {
            const int k = std::min(count - first, detail::kMaxPacketRows);
            double t = wallMs();
            Packet& p = packetOf(tra, k);
            for (int r = 0; r < k; ++r) {
                const unsigned char* row = rows + (first + r) * stride;
                for (std::size_t i = 0; i < n; ++i) {
                    const Slot& to = p.places[r * n + i];
                    std::memcpy(p.buffer.data() + to.value, row + fetched_[i].value,
                                fetched_[i].length);
                    std::memcpy(p.buffer.data() + to.null, row + fetched_[i].null, 2);
                }
            }
            *copyMs += wallMs() - t;
            t = wallMs();
            p.stmt->execute(&st_, tra, p.in, p.buffer.data(), nullptr, nullptr);
            *executeMs += wallMs() - t;
            first += k;
        }
    }

private:
    struct Packet {
        IStatement* stmt = nullptr;
        IMessageMetadata* in = nullptr;
        std::vector<Slot> places;
        std::vector<unsigned char> buffer;
    };
    Packet& packetOf(ITransaction* tra, int rows) {
        Packet& p = packets_[rows];
        if (p.stmt) return p;
        const QByteArray text = (rows == 1 ? sql::insertText(table_, columns_)
                                           : detail::packetText(table_, columns_, rows))
                                    .toLatin1();
        p.stmt = target_->prepare(&st_, tra, 0, text.constData(), 3,
                                  IStatement::PREPARE_PREFETCH_METADATA);
        p.in = p.stmt->getInputMetadata(&st_);
        p.places = slotsOf(p.in, st_);
        p.buffer.assign(p.in->getMessageLength(&st_), 0);
        return p;
    }

    IAttachment* target_;
    ThrowStatusWrapper& st_;
    QString table_;
    QStringList columns_;
    const std::vector<Slot>& fetched_;
    std::vector<Packet> packets_;
};

// The source's cursor over every column of the table, in a read-only transaction.
struct SourceRows {
    SourceRows(BareClient& client, const QString& source, const QString& tableName)
        : st(client.st()), att(client.attach(source)) {
        tra = client.begin(att, BareClient::Access::ReadOnly);
        const QByteArray select = "select * from " + tableName.toLatin1();
        stmt =
            att->prepare(&st, tra, 0, select.constData(), 3, IStatement::PREPARE_PREFETCH_METADATA);
        out = stmt->getOutputMetadata(&st);
        for (unsigned i = 0; i < out->getCount(&st); ++i)
            columns << QString::fromUtf8(out->getField(&st, i));
        fetched = slotsOf(out, st);
        stride = out->getMessageLength(&st);
        cursor = stmt->openCursor(&st, tra, nullptr, nullptr, out, 0);
    }
    ~SourceRows() {
        cursor->close(&st);
        stmt->free(&st);
        out->release();
        tra->commit(&st);
        att->detach(&st);
    }
    ThrowStatusWrapper& st;
    IAttachment* att;
    ITransaction* tra = nullptr;
    IStatement* stmt = nullptr;
    IMessageMetadata* out = nullptr;
    IResultSet* cursor = nullptr;
    QStringList columns;
    std::vector<Slot> fetched;
    std::size_t stride = 0;
};

// The pages the server has written for this attachment so far (with forced writes, each one a
// write that waits for the disk).
long long pagesWritten(BareClient& client, IAttachment* att) {
    ThrowStatusWrapper& st = client.st();
    ITransaction* tra = client.begin(att, BareClient::Access::ReadOnly);
    const char* text =
        "select cast(s.mon$page_writes as bigint) from mon$attachments a join mon$io_stats s "
        "on s.mon$stat_id = a.mon$stat_id where a.mon$attachment_id = current_connection";
    IStatement* stmt = att->prepare(&st, tra, 0, text, 3, IStatement::PREPARE_PREFETCH_METADATA);
    IMessageMetadata* out = stmt->getOutputMetadata(&st);
    std::vector<unsigned char> row(out->getMessageLength(&st));
    IResultSet* cursor = stmt->openCursor(&st, tra, nullptr, nullptr, out, 0);
    long long pages = -1;
    if (cursor->fetchNext(&st, row.data()) == IStatus::RESULT_OK)
        std::memcpy(&pages, row.data() + out->getOffset(&st, 0), sizeof pages);
    cursor->close(&st);
    out->release();
    stmt->free(&st);
    tra->commit(&st);
    return pages;
}

// The same rows as the bare loop, sent as the write-backs send new rows, one thread, no record
// set. With COPY_BENCH_PROFILE set, says on stderr where its time went.
Outcome packed(const QString& source, const QString& target, const QString& tableName) {
    BareClient client;
    ThrowStatusWrapper& st = client.st();
    IAttachment* dst = client.attach(target);
    const long long pagesBefore = pagesWritten(client, dst);
    const double started = wallMs();
    double fetchMs = 0, copyMs = 0, executeMs = 0, commitMs = 0;
    long long copied = 0, commits = 0;
    {
        SourceRows src(client, source, tableName);
        Packets packets(dst, st, tableName, src.columns, src.fetched);
        copied = forEachWriteBack(
            src.cursor, st, src.stride, &fetchMs, [&](const unsigned char* rows, int count) {
                ITransaction* tra = client.begin(dst, BareClient::Access::ReadWrite);
                packets.send(tra, rows, src.stride, count, &copyMs, &executeMs);
                const double t = wallMs();
                tra->commit(&st);
                commitMs += wallMs() - t;
                ++commits;
            });
    }
    const Outcome o = finished(copied, wallMs() - started);
    if (qEnvironmentVariableIsSet("COPY_BENCH_PROFILE")) {
        const long long pages = pagesWritten(client, dst) - pagesBefore;
        std::fprintf(stderr,
                     "packed: fetch %.0f ms, copy %.0f ms, execute %.0f ms, commit %.0f ms "
                     "(%lld commits, %.1f ms each; %lld pages written, %.1f a commit)\n",
                     fetchMs, copyMs, executeMs, commitMs, commits,
                     commitMs / std::max(1LL, commits), pages,
                     static_cast<double>(pages) / std::max(1LL, commits));
    }
    dst->detach(&st);
    return o;
}

// What overlapping the commits would give, measured only: the packed loop on two attachments to
// the target, each write-back's commit running on a thread of its own while the next write-back's
// packets run on the other attachment.
Outcome packedOverlappingCommits(const QString& source, const QString& target,
                                 const QString& tableName) {
    BareClient client;
    ThrowStatusWrapper& st = client.st();
    struct Side {
        IAttachment* att = nullptr;
        std::unique_ptr<Packets> packets;
        ITransaction* tra = nullptr;
        std::thread committing;
    };
    Side sides[2];
    sides[0].att = client.attach(target);
    sides[1].att = client.attach(target);
    const double started = wallMs();
    double unused = 0;
    long long copied = 0;
    {
        SourceRows src(client, source, tableName);
        for (Side& side : sides)
            side.packets =
                std::make_unique<Packets>(side.att, st, tableName, src.columns, src.fetched);
        long long block = 0;
        copied = forEachWriteBack(
            src.cursor, st, src.stride, &unused, [&](const unsigned char* rows, int count) {
                Side& side = sides[block++ % 2];
                if (side.committing.joinable()) side.committing.join();
                side.tra = client.begin(side.att, BareClient::Access::ReadWrite);
                side.packets->send(side.tra, rows, src.stride, count, &unused, &unused);
                side.committing = std::thread([&side] {
                    BareClient own;
                    side.tra->commit(&own.st());
                });
            });
        for (Side& side : sides) {
            if (side.committing.joinable()) side.committing.join();
            side.packets.reset();
        }
    }
    const Outcome o = finished(copied, wallMs() - started);
    for (Side& side : sides) side.att->detach(&st);
    return o;
}

// ---- the orchestra ------------------------------------------------------------------------

std::string self;

Outcome runSide(const char* side, const QString& source, const QString& target,
                const char* tableName, bool everyRow) {
    const std::string command = self + " --side " + side + ' ' + source.toStdString() + ' ' +
                                target.toStdString() + ' ' + tableName + ' ' +
                                (everyRow ? "row" : "500");
    const double server = serverCpuMs();
    FILE* p = popen(command.c_str(), "r");
    Outcome o;
    if (!p || std::fscanf(p, "%lld %lf %ld %lf %lf", &o.rows, &o.ms, &o.peakKiB, &o.cpuMs,
                          &o.commitMs) != 5)
        std::fprintf(stderr, "%s failed\n", side);
    if (p) pclose(p);
    o.serverCpuMs = serverCpuMs() - server;
    return o;
}

int runOneSide(const Args& args) {
    const QString source = args.text(3), target = args.text(4), tableName = args.text(5);
    const bool everyRow = args.is(6, "row");
    const Outcome o = args.is(2, "ours")      ? ours(source, target, tableName, everyRow)
                      : args.is(2, "packed")  ? packed(source, target, tableName)
                      : args.is(2, "overlap") ? packedOverlappingCommits(source, target, tableName)
                      : args.is(2, "old-bare")
                          ? bare(source, target, tableName, everyRow, Parameters::SelectMessage)
                          : bare(source, target, tableName, everyRow, Parameters::OwnTypes);
    std::printf("%lld %.1f %ld %.1f %.1f\n", o.rows, o.ms, o.peakKiB, o.cpuMs, o.commitMs);
    return 0;
}

double rate(const Outcome& o) {
    return perSecond(static_cast<double>(o.rows), o.ms / 1000.0);
}

QString fresh(const Workspace& work, const char* name, const QByteArray& ddl) {
    const QString path = work.path(QString::fromLatin1(name));
    QFile::remove(path);
    return test::kServerPrefix + test::createDatabase(path, ddl);
}

// CPU per 1,000 rows, the side's own process and the server's: on a shared machine the figure
// that waiting for a core or for the disk does not move.
double cpuPerThousand(const Outcome& o) {
    return (o.cpuMs + std::max(0.0, o.serverCpuMs)) * 1000.0 / static_cast<double>(o.rows);
}

// One line of the table: the side's rate, against the bare loop and the ceiling, its memory,
// its CPU per 1,000 rows (its own process and the server's) and the bare loop's CPU over it.
void sideLine(const char* side, double sideRate, double bareRate, double ceiling, const Outcome* o,
              const Outcome& b) {
    std::printf("  %-9s %9.0f %8.2f %8.0f %%", side, sideRate, sideRate / bareRate,
                100 * sideRate / ceiling);
    if (o)
        std::printf(" %8.0f %8.1f %8.1f %9.2f", o->peakKiB / 1024.0, o->cpuMs * 1000.0 / o->rows,
                    o->serverCpuMs * 1000.0 / o->rows, cpuPerThousand(b) / cpuPerThousand(*o));
    std::printf("\n");
}

int every500(const Workspace& work, int rows) {
    const QByteArray dep = table("PAT_DEPRECIACAO", kDepreciation);
    const QString source = fresh(work, "origem.fdb", dep + table("DEP_TETO", kDepreciation));
    fillRows(source, QStringLiteral("PAT_DEPRECIACAO"), rows,
             QStringLiteral(":i, :i / 12 + 1, mod(:i, 40), :i / 12 + 7, dateadd(mod(:i, 3650) "
                            "day to date '2015-01-01'), mod(:i, 100000) * 1.37, :i * 2.11, "
                            "mod(:i, 30) + 0.25"));
    Connection con(QStringLiteral("Con_Bench"));
    con.Params = Connection::editParams(source);
    // The server's own copy of the same rows: the ceiling.
    const double ceiling = perSecond(
        rows, secondsOf([&] {
            con.ExecuteDirect(QStringLiteral("insert into DEP_TETO select * from PAT_DEPRECIACAO"));
        }));
    con.Close();
    const auto side = [&](const char* name) {
        return runSide(name, source, fresh(work, (std::string(name) + ".fdb").c_str(), dep),
                       "PAT_DEPRECIACAO", false);
    };
    const Outcome b = side("bare");
    const Outcome p = side("packed");
    const Outcome o = side("ours");
    std::printf("\n%d rows, the every-500 copy\n", rows);
    std::printf("  %-9s %9s %8s %10s %8s %8s %8s %9s\n", "side", "rows/s", "x bare", "of ceiling",
                "peak MB", "CPU own", "server", "x bare CPU");
    sideLine("ours", rate(o), rate(b), ceiling, &o, b);
    sideLine("bare", rate(b), rate(b), ceiling, &b, b);
    sideLine("packed", rate(p), rate(b), ceiling, &p, b);
    if (qEnvironmentVariableIsSet("COPY_BENCH_OLD_BARE")) {
        const Outcome old = side("old-bare");
        sideLine("old bare", rate(old), rate(b), ceiling, &old, b);
    }
    if (qEnvironmentVariableIsSet("COPY_BENCH_UNFORCED")) {
        // A scratch target of the bench's own whose pages the server writes without waiting
        // for the disk: what the commits' synchronous writes cost the packed loop.
        const QString unforced = fresh(work, "unforced.fdb", dep);
        const int rc = QProcess::execute(
            QStringLiteral("fbsvcmgr"),
            {QStringLiteral("127.0.0.1/3052:service_mgr"), QStringLiteral("-user"),
             QStringLiteral("SYSDBA"), QStringLiteral("-password"), test::kPassword,
             QStringLiteral("-action_properties"), QStringLiteral("-dbname"),
             unforced.mid(test::kServerPrefix.size()), QStringLiteral("-prp_write_mode"),
             QStringLiteral("prp_wm_async")});
        if (rc != 0) std::fprintf(stderr, "unforced: fbsvcmgr failed (%d)\n", rc);
        const Outcome u = runSide("packed", source, unforced, "PAT_DEPRECIACAO", false);
        sideLine("unforced", rate(u), rate(b), ceiling, &u, b);
    }
    if (qEnvironmentVariableIsSet("COPY_BENCH_OVERLAP")) {
        const Outcome v = side("overlap");
        sideLine("overlap", rate(v), rate(b), ceiling, &v, b);
    }
    sideLine("ceiling", ceiling, rate(b), ceiling, nullptr, b);
    std::printf("  the bare loop's %d commits took %.1f s of its %.1f s (%.0f ms each)\n",
                rows / kBatch + 1, b.commitMs / 1000, b.ms / 1000,
                b.commitMs / (rows / kBatch + 1));
    bool ok = resultLine(QStringLiteral("ours against the bare loop"), rate(o) / rate(b), "x",
                         atLeast(4));
    ok = resultLine(QStringLiteral("ours, peak memory"), o.peakKiB / 1024.0, " MB", atMost(200)) &&
         ok;
    if (b.rows != rows || o.rows != rows || p.rows != rows) {
        std::printf("rows copied differ: bare %lld, packed %lld, ours %lld\n", b.rows, p.rows,
                    o.rows);
        return 1;
    }
    return ok ? 0 : 2;
}

// Every row on its own: 5,000 responsible persons, both sides twice, in turn.
int everyRow(const Workspace& work) {
    constexpr int kPeople = 5000;
    const QByteArray res = table("PAT_RESPONSAVEL", kResponsible);
    const QString source = fresh(work, "pessoas.fdb", res);
    fillRows(source, QStringLiteral("PAT_RESPONSAVEL"), kPeople,
             QStringLiteral(":i, 'Respons' || ascii_char(225) || 'vel n' || ascii_char(186) || "
                            "' ' || :i, lpad(:i, 11, '0'), 'Cargo ' || mod(:i, 17), :i, 'S', "
                            "timestamp '2020-01-01 08:00:00' + :i"));
    Outcome b, o;
    const std::vector<double> best = bestOf(
        2, {[&] {
                b = runSide("bare", source, fresh(work, "pb.fdb", res), "PAT_RESPONSAVEL", true);
                return b.ms;
            },
            [&] {
                o = runSide("ours", source, fresh(work, "po.fdb", res), "PAT_RESPONSAVEL", true);
                return o.ms;
            }});
    const double bareRate = perSecond(kPeople, best[0] / 1000),
                 oursRate = perSecond(kPeople, best[1] / 1000);
    std::printf(
        "\nevery-row copy of %d rows (best of 2): bare %.0f rows/s, ours %.0f rows/s, "
        "ours/bare %.2f\n",
        kPeople, bareRate, oursRate, oursRate / bareRate);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    self = argv[0];
    if (argc > 1 && std::strcmp(argv[1], "--side") == 0)
        return benchMain(argc, argv, "copy_bench",
                         [](const Args& args, Workspace&) { return runOneSide(args); });
    return benchMain(argc, argv, "copy_bench", [](const Args& args, Workspace& work) {
        std::vector<int> sizes;
        for (int i = 1; i <= args.count(); ++i) sizes.push_back(args.number(i, 0));
        if (sizes.empty()) sizes = {200000, 1000000};
        std::printf(
            "the every-500 copy: ours, the honest bare loop, the packed loop and the "
            "ceiling (the server's INSERT ... SELECT)\n");
        int status = 0;
        for (int rows : sizes) status = std::max(status, every500(work, rows));
        if (!qEnvironmentVariableIsSet("COPY_BENCH_NO_EVERY_ROW"))
            status = std::max(status, everyRow(work));
        return status;
    });
}
