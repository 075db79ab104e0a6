// The copy steps' database work through record sets against bare loops on the client's OO API,
// both sides in the same run on the same server:
// - the every-500 copy of PAT_DEPRECIACAO-like rows (Insert before the current row, a
//   write-back every 500 rows) against a loop that sends one INSERT per row with the same
//   commits, at 200,000 and 1,000,000 rows, with each side's peak memory and the server's own
//   INSERT ... SELECT of the same rows as the ceiling;
// - the every-row copy of 5,000 PAT_RESPONSAVEL-like rows (a write-back per row) against a
//   loop that prepares its INSERT once and commits every row.
// Each side runs in a process of its own, so that its peak memory is its own.
//
// Run by hand: build/bench/db/copy_bench [rows...] (needs the private server on 127.0.0.1:3052).

#include <firebird/Interface.h>

#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "QuietHost.h"
#include "TestDatabase.h"
#include "core/StatusConvention.h"
#include "db/Connection.h"
#include "db/RecordSet.h"
#include "db/RecordSetImpl.h"
#include "runs/CopyPipeline.h"
#include "runs/ImportReport.h"

using namespace patrimonio;
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

// The write-back loop of the runs: a refused row is dropped and the rest written again.
int writeBack(RecordSet& target) {
    int refused = 0;
    while (target.ApplyUpdates(0) != 0) {
        target.dropPendingChange(target.lastRefusal()->changeIndex);
        ++refused;
    }
    return refused;
}

// ---- the sides, each in its own process ---------------------------------------------------

struct Outcome {
    long long rows = 0;
    double ms = 0;
    long peakKiB = 0;
    double cpuMs = 0;        // the side's own process
    double serverCpuMs = 0;  // the server meanwhile (shared: an upper bound)
};

// The row-by-row copy through record sets the steps made before the pipeline: the whole source
// loaded first, then row after row into the target record set, a write-back at the cadence.
Outcome before(const QString& source, const QString& target, const QString& tableName,
               bool everyRow) {
    Connection from(QStringLiteral("Con_Novo")), to(QStringLiteral("Con_Velho"));
    from.Params = Connection::editParams(source);
    to.Params = Connection::editParams(target);
    to.Open();
    RecordSet src(from), dst(to);
    const double started = bench::wallMs();
    const QString select = QStringLiteral("SELECT * FROM ") + tableName;
    reopen(src, select);
    reopen(dst, select);
    src.First();
    const int n = src.RecordCount();
    const int columns = src.fieldCount();
    int refused = 0;
    for (int j = 0; j < n; ++j) {
        if (everyRow) {
            dst.Append();
        } else {
            dst.Insert();
        }
        for (int i = 0; i < columns; ++i) dst.Fields(i).setAsVariant(src.Fields(i).AsVariant());
        dst.Post();
        src.Next();
        if (everyRow || j % kBatch == 0) refused += writeBack(dst);
    }
    refused += writeBack(dst);
    Outcome o;
    o.ms = bench::wallMs() - started;
    o.rows = n - refused;
    o.peakKiB = bench::peakKiB();
    o.cpuMs = bench::processCpuMs();
    return o;
}

// The plain copy step's pipeline (runs/CopyPipeline.h) with the step's own reporting to a host
// that shows nothing: the source read ahead, the next write-back built while the server runs the
// last one.
Outcome ours(const QString& source, const QString& target, const QString& tableName,
             bool everyRow) {
    Connection from(QStringLiteral("Con_Novo")), to(QStringLiteral("Con_Velho"));
    from.Params = Connection::editParams(source);
    to.Params = Connection::editParams(target);
    to.Open();
    RecordSet dst(to);
    bench::QuietHost host(bench::QuietHost::LogLines::Dropped);
    const PlainCopy step{tableName,
                         QStringLiteral("Importando."),
                         everyRow ? PlainCopy::NewRow::Append : PlainCopy::NewRow::Insert,
                         false,
                         everyRow ? PlainCopy::Cadence::EveryRow : PlainCopy::Cadence::Every500Rows,
                         !everyRow};
    const double started = bench::wallMs();
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
    Outcome o;
    o.ms = bench::wallMs() - started;
    o.rows = tally.written;
    o.peakKiB = bench::peakKiB();
    o.cpuMs = bench::processCpuMs();
    return o;
}

struct Bare {
    IMaster* master = fb_get_master_interface();
    IStatus* status = master->getStatus();
    ThrowStatusWrapper st{status};

    IAttachment* attach(const QString& database) {
        IXpbBuilder* dpb =
            master->getUtilInterface()->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
        dpb->insertString(&st, isc_dpb_user_name, "SYSDBA");
        dpb->insertString(&st, isc_dpb_password, "quillfern");
        const QByteArray db = database.toUtf8();
        IAttachment* att = master->getDispatcher()->attachDatabase(
            &st, db.constData(), dpb->getBufferLength(&st), dpb->getBuffer(&st));
        dpb->dispose();
        return att;
    }
    ITransaction* begin(IAttachment* att, bool readOnly) {
        const unsigned char tpb[] = {
            isc_tpb_version3, isc_tpb_read_committed, isc_tpb_rec_version, isc_tpb_wait,
            static_cast<unsigned char>(readOnly ? isc_tpb_read : isc_tpb_write)};
        return att->startTransaction(&st, sizeof tpb, tpb);
    }
};

// Reads the source with a cursor and sends each row as it comes with one prepared INSERT (the
// fetched message is the INSERT's input message), committing after the same rows as the steps.
Outcome bare(const QString& source, const QString& target, const QString& tableName,
             bool everyRow) {
    Bare b;
    IAttachment* src = b.attach(source);
    IAttachment* dst = b.attach(target);
    const double started = bench::wallMs();
    ITransaction* rtra = b.begin(src, true);
    const QByteArray select = "select * from " + tableName.toLatin1();
    IStatement* sel =
        src->prepare(&b.st, rtra, 0, select.constData(), 3, IStatement::PREPARE_PREFETCH_METADATA);
    IMessageMetadata* out = sel->getOutputMetadata(&b.st);
    const unsigned n = out->getCount(&b.st);
    QByteArray insert = "insert into " + tableName.toLatin1() + " values (";
    for (unsigned i = 0; i < n; ++i) insert += i ? ", ?" : "?";
    insert += ')';
    ITransaction* wtra = b.begin(dst, false);
    IStatement* ins =
        dst->prepare(&b.st, wtra, 0, insert.constData(), 3, IStatement::PREPARE_PREFETCH_METADATA);
    std::vector<unsigned char> row(out->getMessageLength(&b.st));
    IResultSet* rs = sel->openCursor(&b.st, rtra, nullptr, nullptr, out, 0);
    long long j = 0;
    while (rs->fetchNext(&b.st, row.data()) == IStatus::RESULT_OK) {
        ins->execute(&b.st, wtra, out, row.data(), nullptr, nullptr);
        if (everyRow || j % kBatch == 0) {
            wtra->commit(&b.st);
            wtra = b.begin(dst, false);
        }
        ++j;
    }
    wtra->commit(&b.st);
    rs->close(&b.st);
    ins->free(&b.st);
    sel->free(&b.st);
    out->release();
    rtra->commit(&b.st);
    Outcome o;
    o.ms = bench::wallMs() - started;
    o.rows = j;
    o.peakKiB = bench::peakKiB();
    o.cpuMs = bench::processCpuMs();
    src->detach(&b.st);
    dst->detach(&b.st);
    return o;
}

// The same rows as `bare`, sent as the write-backs send new rows: the rows of a commit in
// EXECUTE BLOCKs of at most 256 rows whose input parameters carry the values (a lone row as a
// plain INSERT), one thread, no record set. The fetched values are copied field by field into
// the packet's input message. With COPY_BENCH_PROFILE set, says on stderr where its time went.
Outcome packed(const QString& source, const QString& target, const QString& tableName) {
    Bare b;
    IAttachment* src = b.attach(source);
    IAttachment* dst = b.attach(target);
    const double started = bench::wallMs();
    double fetchMs = 0, copyMs = 0, executeMs = 0, commitMs = 0;
    ITransaction* rtra = b.begin(src, true);
    const QByteArray select = "select * from " + tableName.toLatin1();
    IStatement* sel =
        src->prepare(&b.st, rtra, 0, select.constData(), 3, IStatement::PREPARE_PREFETCH_METADATA);
    IMessageMetadata* out = sel->getOutputMetadata(&b.st);
    const unsigned n = out->getCount(&b.st);
    QStringList columns;
    for (unsigned i = 0; i < n; ++i) columns << QString::fromUtf8(out->getField(&b.st, i));
    const QString quotedTable = patrimonio::sql::quoted(tableName);
    ITransaction* wtra = b.begin(dst, false);
    struct Packet {
        IStatement* stmt = nullptr;
        IMessageMetadata* in = nullptr;
        std::vector<unsigned char> buffer;
    };
    std::vector<Packet> packets(detail::kMaxPacketRows + 1);
    const auto packetOf = [&](int rows) -> Packet& {
        Packet& p = packets[rows];
        if (p.stmt) return p;
        const QByteArray text = (rows == 1 ? patrimonio::sql::insertText(quotedTable, columns)
                                           : detail::packetText(quotedTable, columns, rows))
                                    .toLatin1();
        p.stmt = dst->prepare(&b.st, wtra, 0, text.constData(), 3,
                              IStatement::PREPARE_PREFETCH_METADATA);
        p.in = p.stmt->getInputMetadata(&b.st);
        p.buffer.assign(p.in->getMessageLength(&b.st), 0);
        return p;
    };
    std::vector<unsigned> from(n), fromNull(n), size(n);
    for (unsigned i = 0; i < n; ++i) {
        from[i] = out->getOffset(&b.st, i);
        fromNull[i] = out->getNullOffset(&b.st, i);
        size[i] =
            out->getLength(&b.st, i) + (((out->getType(&b.st, i) & ~1u) == SQL_VARYING) ? 2 : 0);
    }
    const size_t stride = out->getMessageLength(&b.st);
    std::vector<unsigned char> rows(stride * kBatch);
    IResultSet* rs = sel->openCursor(&b.st, rtra, nullptr, nullptr, out, 0);
    long long copied = 0;
    const auto send = [&](int count) {
        for (int first = 0; first < count;) {
            const int k = std::min(count - first, detail::kMaxPacketRows);
            double t = bench::wallMs();
            Packet& p = packetOf(k);
            for (int r = 0; r < k; ++r) {
                const unsigned char* row = rows.data() + (first + r) * stride;
                for (unsigned i = 0; i < n; ++i) {
                    const unsigned j = r * n + i;
                    std::memcpy(p.buffer.data() + p.in->getOffset(&b.st, j), row + from[i],
                                size[i]);
                    std::memcpy(p.buffer.data() + p.in->getNullOffset(&b.st, j), row + fromNull[i],
                                2);
                }
            }
            copyMs += bench::wallMs() - t;
            t = bench::wallMs();
            p.stmt->execute(&b.st, wtra, p.in, p.buffer.data(), nullptr, nullptr);
            executeMs += bench::wallMs() - t;
            first += k;
        }
        const double t = bench::wallMs();
        wtra->commit(&b.st);
        commitMs += bench::wallMs() - t;
        wtra = b.begin(dst, false);
        copied += count;
    };
    int held = 0;
    for (long long j = 0;; ++j) {
        const double t = bench::wallMs();
        const bool more = rs->fetchNext(&b.st, rows.data() + held * stride) == IStatus::RESULT_OK;
        fetchMs += bench::wallMs() - t;
        if (!more) break;
        ++held;
        if (j % kBatch == 0) {
            send(held);
            held = 0;
        }
    }
    if (held) send(held);
    wtra->commit(&b.st);
    rs->close(&b.st);
    for (Packet& p : packets) {
        if (!p.stmt) continue;
        p.in->release();
        p.stmt->free(&b.st);
    }
    sel->free(&b.st);
    out->release();
    rtra->commit(&b.st);
    Outcome o;
    o.ms = bench::wallMs() - started;
    o.rows = copied;
    o.peakKiB = bench::peakKiB();
    o.cpuMs = bench::processCpuMs();
    if (qEnvironmentVariableIsSet("COPY_BENCH_PROFILE"))
        std::fprintf(stderr,
                     "packed: fetch %.0f ms, copy %.0f ms, execute %.0f ms, commit %.0f ms\n",
                     fetchMs, copyMs, executeMs, commitMs);
    src->detach(&b.st);
    dst->detach(&b.st);
    return o;
}

// What overlapping the commits would give, measured only: the packed loop on two attachments to
// the target, each write-back's commit running on a thread of its own while the next write-back's
// packets run on the other attachment. The transactions keep their rows, but a write-back then
// runs before the one before it is committed, which the steps may not do (see the README).
Outcome packedOverlappingCommits(const QString& source, const QString& target,
                                 const QString& tableName) {
    Bare b;
    IAttachment* src = b.attach(source);
    struct Side {
        IAttachment* att = nullptr;
        std::vector<IStatement*> packets = std::vector<IStatement*>(detail::kMaxPacketRows + 1);
        std::vector<IMessageMetadata*> in =
            std::vector<IMessageMetadata*>(detail::kMaxPacketRows + 1);
        ITransaction* tra = nullptr;
        std::thread committing;
    };
    Side sides[2];
    sides[0].att = b.attach(target);
    sides[1].att = b.attach(target);
    const double started = bench::wallMs();
    ITransaction* rtra = b.begin(src, true);
    const QByteArray select = "select * from " + tableName.toLatin1();
    IStatement* sel =
        src->prepare(&b.st, rtra, 0, select.constData(), 3, IStatement::PREPARE_PREFETCH_METADATA);
    IMessageMetadata* out = sel->getOutputMetadata(&b.st);
    const unsigned n = out->getCount(&b.st);
    QStringList columns;
    for (unsigned i = 0; i < n; ++i) columns << QString::fromUtf8(out->getField(&b.st, i));
    const QString quotedTable = patrimonio::sql::quoted(tableName);
    std::vector<unsigned> from(n), fromNull(n), size(n);
    for (unsigned i = 0; i < n; ++i) {
        from[i] = out->getOffset(&b.st, i);
        fromNull[i] = out->getNullOffset(&b.st, i);
        size[i] =
            out->getLength(&b.st, i) + (((out->getType(&b.st, i) & ~1u) == SQL_VARYING) ? 2 : 0);
    }
    const size_t stride = out->getMessageLength(&b.st);
    std::vector<unsigned char> rows(stride * kBatch), buffer;
    IResultSet* rs = sel->openCursor(&b.st, rtra, nullptr, nullptr, out, 0);
    long long copied = 0, block = 0;
    const auto send = [&](int count) {
        Side& side = sides[block++ % 2];
        if (side.committing.joinable()) side.committing.join();
        side.tra = b.begin(side.att, false);
        for (int first = 0; first < count;) {
            const int k = std::min(count - first, detail::kMaxPacketRows);
            if (!side.packets[k]) {
                const QByteArray text = (k == 1 ? patrimonio::sql::insertText(quotedTable, columns)
                                                : detail::packetText(quotedTable, columns, k))
                                            .toLatin1();
                side.packets[k] = side.att->prepare(&b.st, side.tra, 0, text.constData(), 3,
                                                    IStatement::PREPARE_PREFETCH_METADATA);
                side.in[k] = side.packets[k]->getInputMetadata(&b.st);
            }
            IMessageMetadata* in = side.in[k];
            buffer.assign(in->getMessageLength(&b.st), 0);
            for (int r = 0; r < k; ++r) {
                const unsigned char* row = rows.data() + (first + r) * stride;
                for (unsigned i = 0; i < n; ++i) {
                    const unsigned j = r * n + i;
                    std::memcpy(buffer.data() + in->getOffset(&b.st, j), row + from[i], size[i]);
                    std::memcpy(buffer.data() + in->getNullOffset(&b.st, j), row + fromNull[i], 2);
                }
            }
            side.packets[k]->execute(&b.st, side.tra, in, buffer.data(), nullptr, nullptr);
            first += k;
        }
        side.committing = std::thread([&side] {
            IStatus* status = fb_get_master_interface()->getStatus();
            ThrowStatusWrapper st(status);
            side.tra->commit(&st);
            status->dispose();
        });
        copied += count;
    };
    int held = 0;
    for (long long j = 0; rs->fetchNext(&b.st, rows.data() + held * stride) == IStatus::RESULT_OK;
         ++j) {
        ++held;
        if (j % kBatch == 0) {
            send(held);
            held = 0;
        }
    }
    if (held) send(held);
    for (Side& side : sides) {
        if (side.committing.joinable()) side.committing.join();
        for (size_t k = 0; k < side.packets.size(); ++k) {
            if (!side.packets[k]) continue;
            side.in[k]->release();
            side.packets[k]->free(&b.st);
        }
    }
    rs->close(&b.st);
    sel->free(&b.st);
    out->release();
    rtra->commit(&b.st);
    Outcome o;
    o.ms = bench::wallMs() - started;
    o.rows = copied;
    o.peakKiB = bench::peakKiB();
    o.cpuMs = bench::processCpuMs();
    src->detach(&b.st);
    for (Side& side : sides) side.att->detach(&b.st);
    return o;
}

// ---- the orchestra ------------------------------------------------------------------------

std::string self;

Outcome runSide(const char* side, const QString& source, const QString& target,
                const char* tableName, bool everyRow) {
    const std::string command = self + ' ' + side + ' ' + source.toStdString() + ' ' +
                                target.toStdString() + ' ' + tableName + ' ' +
                                (everyRow ? "row" : "500");
    const double server = bench::serverCpuMs();
    FILE* p = popen(command.c_str(), "r");
    Outcome o;
    if (!p || std::fscanf(p, "%lld %lf %ld %lf", &o.rows, &o.ms, &o.peakKiB, &o.cpuMs) != 4)
        std::fprintf(stderr, "%s failed\n", side);
    if (p) pclose(p);
    o.serverCpuMs = bench::serverCpuMs() - server;
    return o;
}

double rate(const Outcome& o) {
    return o.rows / (o.ms / 1000.0);
}

// CPU (the side's process and the server's) per 1,000 rows, in ms.
void cpuLine(const char* side, const Outcome& o) {
    std::printf("  %-6s CPU per 1,000 rows: own %.1f ms, server %.1f ms\n", side,
                o.cpuMs * 1000.0 / o.rows, o.serverCpuMs * 1000.0 / o.rows);
}

}  // namespace

int main(int argc, char** argv) {
    self = argv[0];
    if (argc == 6) {
        const bool everyRow = std::strcmp(argv[5], "row") == 0;
        const QString source = QString::fromLocal8Bit(argv[2]);
        const QString target = QString::fromLocal8Bit(argv[3]);
        const QString tableName = QString::fromLocal8Bit(argv[4]);
        const Outcome o =
            std::strcmp(argv[1], "before") == 0   ? before(source, target, tableName, everyRow)
            : std::strcmp(argv[1], "ours") == 0   ? ours(source, target, tableName, everyRow)
            : std::strcmp(argv[1], "packed") == 0 ? packed(source, target, tableName)
            : std::strcmp(argv[1], "overlap") == 0
                ? packedOverlappingCommits(source, target, tableName)
                : bare(source, target, tableName, everyRow);
        std::printf("%lld %.1f %ld %.1f\n", o.rows, o.ms, o.peakKiB, o.cpuMs);
        return 0;
    }
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {200000, 1000000};

    test::TempFolder folder;
    std::printf(
        "the every-500 copy, rows per second (before: the record-set loop of main, ours: the "
        "pipeline)\n");
    std::printf("%-9s %8s %8s %8s %8s %8s | %6s %6s %6s %6s | %s\n", "rows", "bare", "packed",
                "before", "ours", "ceiling", "ours/", "before/", "packed/", "ceil/",
                "peak MB: bare packed before ours");
    for (int rows : sizes) {
        const QString source =
            test::kServerPrefix + test::createDatabase(folder.path(QStringLiteral("origem.fdb")),
                                                       table("PAT_DEPRECIACAO", kDepreciation) +
                                                           table("DEP_TETO", kDepreciation));
        const QString toBare =
            test::kServerPrefix + test::createDatabase(folder.path(QStringLiteral("bare.fdb")),
                                                       table("PAT_DEPRECIACAO", kDepreciation));
        const QString toOurs =
            test::kServerPrefix + test::createDatabase(folder.path(QStringLiteral("ours.fdb")),
                                                       table("PAT_DEPRECIACAO", kDepreciation));
        const QString toPacked =
            test::kServerPrefix + test::createDatabase(folder.path(QStringLiteral("packed.fdb")),
                                                       table("PAT_DEPRECIACAO", kDepreciation));
        Connection con(QStringLiteral("Con_Bench"));
        con.Params = Connection::editParams(source);
        con.ExecuteDirect(
            QStringLiteral("execute block as declare i integer = 0; begin\n"
                           "  while (i < %1) do begin\n"
                           "    i = i + 1;\n"
                           "    insert into PAT_DEPRECIACAO values (:i, :i / 12 + 1, mod(:i, 40),"
                           " :i / 12 + 7, dateadd(mod(:i, 3650) day to date '2015-01-01'),"
                           " mod(:i, 100000) * 1.37, :i * 2.11, mod(:i, 30) + 0.25);\n"
                           "  end\n"
                           "end")
                .arg(rows));
        // The server's own copy of the same rows: the ceiling.
        double started = bench::wallMs();
        con.ExecuteDirect(QStringLiteral("insert into DEP_TETO select * from PAT_DEPRECIACAO"));
        const double ceiling = rows / ((bench::wallMs() - started) / 1000.0);
        const Outcome b = runSide("bare", source, toBare, "PAT_DEPRECIACAO", false);
        const QString toBefore =
            test::kServerPrefix + test::createDatabase(folder.path(QStringLiteral("before.fdb")),
                                                       table("PAT_DEPRECIACAO", kDepreciation));
        const Outcome p = runSide("packed", source, toPacked, "PAT_DEPRECIACAO", false);
        const Outcome f = runSide("before", source, toBefore, "PAT_DEPRECIACAO", false);
        const Outcome o = runSide("ours", source, toOurs, "PAT_DEPRECIACAO", false);
        Outcome v;
        if (qEnvironmentVariableIsSet("COPY_BENCH_OVERLAP")) {
            const QString toOverlap =
                test::kServerPrefix +
                test::createDatabase(folder.path(QStringLiteral("overlap.fdb")),
                                     table("PAT_DEPRECIACAO", kDepreciation));
            v = runSide("overlap", source, toOverlap, "PAT_DEPRECIACAO", false);
        }
        std::printf(
            "%-9d %8.0f %8.0f %8.0f %8.0f %8.0f | %6.2f %6.2f %6.2f %6.2f | %.0f %.0f %.0f %.0f\n",
            rows, rate(b), rate(p), rate(f), rate(o), ceiling, rate(o) / rate(b), rate(f) / rate(b),
            rate(p) / rate(b), ceiling / rate(b), b.peakKiB / 1024.0, p.peakKiB / 1024.0,
            f.peakKiB / 1024.0, o.peakKiB / 1024.0);
        std::printf(
            "  ours: %.2fx before, %.0f %% of the packed loop, %.0f %% of the ceiling; "
            "goal 5x bare: %s; peak %.0f MB (goal 200 at most): %s\n",
            rate(o) / rate(f), 100 * rate(o) / rate(p), 100 * rate(o) / ceiling,
            rate(o) >= 5 * rate(b) ? "ok" : "SHORT", o.peakKiB / 1024.0,
            o.peakKiB <= 200 * 1024 ? "ok" : "SHORT");
        if (v.rows)
            std::printf(
                "  the packed loop with its commits overlapped on a second attachment "
                "(measured only): %.0f rows/s, %.2fx bare, %.2fx the packed loop\n",
                rate(v), rate(v) / rate(b), rate(v) / rate(p));
        cpuLine("bare", b);
        cpuLine("packed", p);
        cpuLine("before", f);
        cpuLine("ours", o);
        if (b.rows != rows || o.rows != rows || p.rows != rows || f.rows != rows)
            std::printf("rows copied differ: bare %lld, packed %lld, before %lld, ours %lld\n",
                        b.rows, p.rows, f.rows, o.rows);
        std::fflush(stdout);
    }
    if (qEnvironmentVariableIsSet("COPY_BENCH_NO_EVERY_ROW")) return 0;

    // Every row on its own: 5,000 responsible persons, both sides twice, alternating.
    constexpr int kPeople = 5000;
    const QString source =
        test::kServerPrefix + test::createDatabase(folder.path(QStringLiteral("pessoas.fdb")),
                                                   table("PAT_RESPONSAVEL", kResponsible));
    Connection con(QStringLiteral("Con_Bench"));
    con.Params = Connection::editParams(source);
    con.ExecuteDirect(QStringLiteral("execute block as declare i integer = 0; begin\n"
                                     "  while (i < %1) do begin\n"
                                     "    i = i + 1;\n"
                                     "    insert into PAT_RESPONSAVEL values (:i, 'Respons' || "
                                     "ascii_char(225) || 'vel n' || ascii_char(186) || ' ' || :i,"
                                     " lpad(:i, 11, '0'), 'Cargo ' || mod(:i, 17), :i, 'S',"
                                     " timestamp '2020-01-01 08:00:00' + :i);\n"
                                     "  end\n"
                                     "end")
                          .arg(kPeople));
    double bareRate = 0, oursRate = 0, beforeRate = 0;
    Outcome lastBare, lastOurs, lastBefore;
    for (int round = 0; round < 2; ++round) {
        const QString toBare =
            test::kServerPrefix + test::createDatabase(folder.path(QStringLiteral("pb.fdb")),
                                                       table("PAT_RESPONSAVEL", kResponsible));
        const QString toOurs =
            test::kServerPrefix + test::createDatabase(folder.path(QStringLiteral("po.fdb")),
                                                       table("PAT_RESPONSAVEL", kResponsible));
        lastBare = runSide("bare", source, toBare, "PAT_RESPONSAVEL", true);
        lastOurs = runSide("ours", source, toOurs, "PAT_RESPONSAVEL", true);
        const QString toBefore =
            test::kServerPrefix + test::createDatabase(folder.path(QStringLiteral("pf.fdb")),
                                                       table("PAT_RESPONSAVEL", kResponsible));
        lastBefore = runSide("before", source, toBefore, "PAT_RESPONSAVEL", true);
        bareRate += rate(lastBare);
        oursRate += rate(lastOurs);
        beforeRate += rate(lastBefore);
    }
    std::printf(
        "\nevery-row copy of %d rows: bare %.0f rows/s, before %.0f rows/s, ours %.0f rows/s,"
        " ours/bare %.2f\n",
        kPeople, bareRate / 2, beforeRate / 2, oursRate / 2, oursRate / bareRate);
    cpuLine("bare", lastBare);
    cpuLine("before", lastBefore);
    cpuLine("ours", lastOurs);
    return 0;
}
