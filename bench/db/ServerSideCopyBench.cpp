// Whether the target's server reading a write-back's source rows itself is worth building:
// the every-500 copy of PAT_DEPRECIACAO-like rows through the plain copies' pipeline (copy_bench's
// "ours" side, run as its own process) against the same write-backs each sent as one EXECUTE
// BLOCK that reads its range of keys from the source through EXECUTE STATEMENT ... ON EXTERNAL,
// one transaction per write-back as the steps commit, beside the server's own INSERT ... SELECT
// inside one database and one EXECUTE STATEMENT ... ON EXTERNAL over the whole table (the
// ceilings). Sides interleaved, best of the rounds.
//
// Run by hand: build/bench/db/serverside_bench [rows] [rounds] (needs the private server).

#include <firebird/Interface.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "BenchDatabases.h"
#include "BenchSupport.h"
#include "QuietHost.h"
#include "TestDatabase.h"
#include "core/Errors.h"
#include "db/Connection.h"
#include "db/ConnectionImpl.h"
#include "db/RecordSet.h"
#include "runs/CopyPipeline.h"
#include "runs/ImportReport.h"

using namespace patrimonio;
using namespace Firebird;

namespace {

const char* const kDepreciation =
    "(DEP_CODIGO integer not null, BEM_CODIGO integer not null, DC_CODIGO integer,\n"
    " BV_CODIGO integer, DEP_DATA date, DEP_VALOR numeric(15,2),\n"
    " DEP_VALOR_ACUMULADO numeric(15,2), DEP_TAXA numeric(5,2),\n"
    " constraint PK_%1 primary key (DEP_CODIGO))";
const char* const kColumns =
    "DEP_CODIGO, BEM_CODIGO, DC_CODIGO, BV_CODIGO, DEP_DATA, DEP_VALOR, DEP_VALOR_ACUMULADO, "
    "DEP_TAXA";
constexpr int kColumnCount = 8;

QByteArray table(const char* name) {
    return "create table " + QByteArray(name) + ' ' +
           QString::fromLatin1(kDepreciation).arg(QString::fromLatin1(name)).toLatin1() + ";\n";
}

// The client's own calls, on attachments the program's connections make.
struct Api {
    IMaster* master = fb_get_master_interface();
    IStatus* status = master->getStatus();
    ThrowStatusWrapper st{status};

    static IAttachment* attachmentOf(Connection& con) {
        con.Open();
        return con.impl().att();
    }
    ITransaction* begin(IAttachment* att, unsigned char isolation, bool readOnly) {
        std::vector<unsigned char> tpb{isc_tpb_version3, isolation};
        if (isolation == isc_tpb_read_committed) tpb.push_back(isc_tpb_rec_version);
        tpb.push_back(isc_tpb_wait);
        tpb.push_back(readOnly ? isc_tpb_read : isc_tpb_write);
        return att->startTransaction(&st, static_cast<unsigned>(tpb.size()), tpb.data());
    }
};

// The file the server opened for an attachment, as the server names it.
QByteArray serverPath(Api& api, IAttachment* att) {
    ITransaction* tra = api.begin(att, isc_tpb_read_committed, true);
    IStatement* s = att->prepare(&api.st, tra, 0, "select mon$database_name from mon$database", 3,
                                 IStatement::PREPARE_PREFETCH_METADATA);
    IMessageMetadata* out = s->getOutputMetadata(&api.st);
    std::vector<unsigned char> row(out->getMessageLength(&api.st));
    IResultSet* rs = s->openCursor(&api.st, tra, nullptr, nullptr, out, 0);
    rs->fetchNext(&api.st, row.data());
    const unsigned offset = out->getOffset(&api.st, 0);
    unsigned short length = 0;
    std::memcpy(&length, row.data() + offset, 2);
    const QByteArray path(reinterpret_cast<const char*>(row.data() + offset + 2), length);
    rs->close(&api.st);
    s->free(&api.st);
    out->release();
    tra->commit(&api.st);
    return path;
}

QByteArray serverPathOf(const QString& database) {
    Api api;
    Connection con(QStringLiteral("Con_Bench"));
    con.Params = Connection::editParams(database);
    return serverPath(api, Api::attachmentOf(con));
}

struct Outcome {
    long long rows = 0;
    double ms = 0;
    int shortBlocks = 0;  // write-backs whose block read fewer rows than the snapshot holds
};

// The write-backs of the every-500 cadence (row 0 alone, then 500 at a time) each as one
// EXECUTE BLOCK over its range of keys, the keys read first from the source in one snapshot.
double executeMs = 0, commitMs = 0;

// With emptyRanges, each block reads a range without rows: what a write-back costs beside its
// rows.
Outcome serverSide(const QString& source, const QString& target, bool oneTransaction,
                   const std::function<void()>& afterWriteBack = {}, bool emptyRanges = false) {
    Api api;
    Connection srcCon(QStringLiteral("Con_Novo")), dstCon(QStringLiteral("Con_Velho"));
    srcCon.Params = Connection::editParams(source);
    dstCon.Params = Connection::editParams(target);
    IAttachment* src = Api::attachmentOf(srcCon);
    IAttachment* dst = Api::attachmentOf(dstCon);
    const QByteArray sourcePath = serverPath(api, src);
    const double started = bench::wallMs();
    ITransaction* snap = api.begin(src, isc_tpb_concurrency, true);
    IStatement* keys = src->prepare(&api.st, snap, 0, "select DEP_CODIGO from PAT_DEPRECIACAO", 3,
                                    IStatement::PREPARE_PREFETCH_METADATA);
    IMessageMetadata* keyOut = keys->getOutputMetadata(&api.st);
    std::vector<unsigned char> keyRow(keyOut->getMessageLength(&api.st));
    const unsigned keyOffset = keyOut->getOffset(&api.st, 0);
    std::vector<int> all;
    IResultSet* rs = keys->openCursor(&api.st, snap, nullptr, nullptr, keyOut, 0);
    while (rs->fetchNext(&api.st, keyRow.data()) == IStatus::RESULT_OK) {
        int k = 0;
        std::memcpy(&k, keyRow.data() + keyOffset, 4);
        all.push_back(k);
    }
    rs->close(&api.st);
    keys->free(&api.st);
    keyOut->release();
    if (!std::is_sorted(all.begin(), all.end())) {
        std::fprintf(stderr, "the source's order is not its keys' order\n");
        std::exit(1);
    }
    QByteArray declare, into, values;
    const QList<QByteArray> names = QByteArray(kColumns).split(',');
    for (int i = 0; i < kColumnCount; ++i) {
        const QByteArray name = names[i].trimmed();
        declare += "  declare c" + QByteArray::number(i) + " type of column PAT_DEPRECIACAO." +
                   name + ";\n";
        into += (i ? ", :c" : ":c") + QByteArray::number(i);
        values += (i ? ", :c" : ":c") + QByteArray::number(i);
    }
    const QByteArray block =
        "execute block (lo integer = ?, hi integer = ?, src varchar(1000) = ?)\n"
        "returns (n integer)\nas\n" +
        declare +
        "begin\n"
        "  n = 0;\n"
        "  for execute statement ('select " +
        QByteArray(kColumns) +
        " from PAT_DEPRECIACAO where DEP_CODIGO between ? and ? order by DEP_CODIGO') (lo, hi)\n"
        "    on external src\n"
        "    into " +
        into +
        "\n  do begin\n"
        "    insert into PAT_DEPRECIACAO (" +
        QByteArray(kColumns) + ") values (" + values +
        ");\n"
        "    n = n + 1;\n"
        "  end\n"
        "  suspend;\n"
        "end";
    ITransaction* tra = api.begin(dst, isc_tpb_read_committed, false);
    IStatement* stmt =
        dst->prepare(&api.st, tra, 0, block.constData(), 3, IStatement::PREPARE_PREFETCH_METADATA);
    IMessageMetadata* in = stmt->getInputMetadata(&api.st);
    IMessageMetadata* out = stmt->getOutputMetadata(&api.st);
    std::vector<unsigned char> inBuf(in->getMessageLength(&api.st), 0),
        outBuf(out->getMessageLength(&api.st), 0);
    const unsigned pathOffset = in->getOffset(&api.st, 2);
    const auto pathLength = static_cast<unsigned short>(sourcePath.size());
    std::memcpy(inBuf.data() + pathOffset, &pathLength, 2);
    std::memcpy(inBuf.data() + pathOffset + 2, sourcePath.constData(), pathLength);
    long long copied = 0;
    int shortBlocks = 0;
    const auto send = [&](size_t first, size_t last) {
        if (!tra) tra = api.begin(dst, isc_tpb_read_committed, false);
        const int lo = emptyRanges ? -2 : all[first], hi = emptyRanges ? -1 : all[last];
        std::memcpy(inBuf.data() + in->getOffset(&api.st, 0), &lo, 4);
        std::memcpy(inBuf.data() + in->getOffset(&api.st, 1), &hi, 4);
        double t = bench::wallMs();
        stmt->execute(&api.st, tra, in, inBuf.data(), out, outBuf.data());
        executeMs += bench::wallMs() - t;
        int n = 0;
        std::memcpy(&n, outBuf.data() + out->getOffset(&api.st, 0), 4);
        if (!emptyRanges && n != static_cast<int>(last - first + 1)) ++shortBlocks;
        copied += n;
        if (oneTransaction) return;
        t = bench::wallMs();
        tra->commit(&api.st);
        commitMs += bench::wallMs() - t;
        tra = nullptr;
        if (afterWriteBack) afterWriteBack();
    };
    if (!all.empty()) send(0, 0);
    for (size_t first = 1; first < all.size(); first += 500)
        send(first, std::min(all.size(), first + 500) - 1);
    Outcome o;
    o.ms = bench::wallMs() - started;
    o.rows = copied;
    o.shortBlocks = shortBlocks;
    if (tra) tra->commit(&api.st);
    in->release();
    out->release();
    stmt->free(&api.st);
    snap->commit(&api.st);
    return o;
}

// One statement on the target copies the whole table through one external read: what the
// external read allows when nothing else is in the way.
Outcome externalCeiling(const QString& source, const QString& target) {
    const QByteArray sourcePath = serverPathOf(source);
    Connection con(QStringLiteral("Con_Bench"));
    con.Params = Connection::editParams(target);
    QString declare, into;
    const QStringList names = QString::fromLatin1(kColumns).split(u',');
    for (int i = 0; i < kColumnCount; ++i) {
        declare += QStringLiteral("  declare c%1 type of column PAT_DEPRECIACAO.%2;\n")
                       .arg(i)
                       .arg(names[i].trimmed());
        into += (i ? QStringLiteral(", :c%1") : QStringLiteral(":c%1")).arg(i);
    }
    const double started = bench::wallMs();
    con.ExecuteDirect(QStringLiteral("execute block as\n") + declare +
                      QStringLiteral("begin\n  for execute statement 'select ") +
                      QString::fromLatin1(kColumns) +
                      QStringLiteral(" from PAT_DEPRECIACAO' on external '") +
                      QString::fromUtf8(sourcePath) + QStringLiteral("' into ") + into +
                      QStringLiteral(" do insert into PAT_DEPRECIACAO values (") + into +
                      QStringLiteral(");\nend"));
    Outcome o;
    o.ms = bench::wallMs() - started;
    return o;
}

double rate(long long rows, double ms) {
    return rows / (ms / 1000.0);
}

}  // namespace

// The rows of a table as text, one line per row in the order of its first column.
QStringList tableLines(const QString& database,
                       const QString& table = QStringLiteral("PAT_DEPRECIACAO")) {
    Connection con(QStringLiteral("Con_Compare"));
    con.Params = Connection::editParams(database);
    RecordSet rs(con);
    reopen(rs, QStringLiteral("SELECT * FROM %1 ORDER BY 1").arg(table));
    QStringList lines;
    for (rs.First(); !rs.Eof(); rs.Next()) {
        QStringList fields;
        for (int i = 0; i < rs.fieldCount(); ++i) fields << rs.Fields(i).AsString();
        lines << fields.join(u'|');
    }
    return lines;
}

// Lines of `got` that `expected` lacks, and lines of `expected` missing from `got`.
QString difference(const QStringList& expected, const QStringList& got) {
    const QSet<QString> e(expected.begin(), expected.end()), g(got.begin(), got.end());
    return QStringLiteral("%1 rows not as in the step's snapshot, %2 rows of the snapshot missing")
        .arg((g - e).size())
        .arg((e - g).size());
}

// One plain copy step of `table` as the run makes it (every 500 rows); what it raised, if
// anything.
QString todaysStep(const QString& source, const QString& target, const QString& table,
                   const std::function<void()>& afterWriteBack = {}) {
    Connection from(QStringLiteral("Con_Novo")), to(QStringLiteral("Con_Velho"));
    from.Params = Connection::editParams(source);
    to.Params = Connection::editParams(target);
    RecordSet dst(to);
    bench::QuietHost host(bench::QuietHost::LogLines::Dropped);
    const PlainCopy step{table, QStringLiteral("Importando."),    PlainCopy::NewRow::Insert,
                         false, PlainCopy::Cadence::Every500Rows, false};
    try {
        CopyPipeline pipeline(step, from, dst, host);
        TableTally tally{table};
        CopyPipeline::Hooks hooks;
        hooks.afterWriteBack = afterWriteBack ? afterWriteBack : [] {};
        hooks.rowHandled = [](int) {};
        pipeline.run(tally, hooks);
    } catch (const AppError& e) {
        return e.message();
    }
    return {};
}

// Another program writes to the source while a step copies it: after the step's first
// write-back it raises DEP_VALOR of every row past key 1000 and deletes row 1700, each committed
// at once. Today's step copies the rows of its snapshot; the server-side blocks read each range
// in a transaction of their own.
int snapshotCase(test::TempFolder& folder, int rows) {
    const QString source =
        test::kServerPrefix + test::createDatabase(folder.path(QStringLiteral("snap-origem.fdb")),
                                                   table("PAT_DEPRECIACAO"));
    Connection writer(QStringLiteral("Con_Other_Program"));
    writer.Params = Connection::editParams(source);
    const auto fill = [&] {
        writer.ExecuteDirect(QStringLiteral("delete from PAT_DEPRECIACAO"));
        writer.ExecuteDirect(QStringLiteral("execute block as declare i integer = 0; begin\n"
                                            "  while (i < %1) do begin\n"
                                            "    i = i + 1;\n"
                                            "    insert into PAT_DEPRECIACAO values (:i, :i, 1, 1,"
                                            " date '2020-01-01', :i * 1.5, :i * 2, 1);\n"
                                            "  end\n"
                                            "end")
                                 .arg(rows));
    };
    fill();
    const QStringList snapshot = tableLines(source);
    bool written = false;
    const auto otherProgram = [&] {
        if (std::exchange(written, true)) return;
        writer.ExecuteDirect(QStringLiteral(
            "update PAT_DEPRECIACAO set DEP_VALOR = DEP_VALOR + 1 where DEP_CODIGO > 1000"));
        writer.ExecuteDirect(QStringLiteral("delete from PAT_DEPRECIACAO where DEP_CODIGO = 1700"));
    };
    // Today's step.
    const QString toOurs =
        test::kServerPrefix + test::createDatabase(folder.path(QStringLiteral("snap-ours.fdb")),
                                                   table("PAT_DEPRECIACAO"));
    todaysStep(source, toOurs, QStringLiteral("PAT_DEPRECIACAO"), otherProgram);
    const QString oursSays = difference(snapshot, tableLines(toOurs));
    // The same source again, the same other program, the server-side blocks.
    fill();
    written = false;
    const QString toServer =
        test::kServerPrefix + test::createDatabase(folder.path(QStringLiteral("snap-server.fdb")),
                                                   table("PAT_DEPRECIACAO"));
    const Outcome s = serverSide(source, toServer, false, otherProgram);
    std::printf(
        "another program writing to the source during a step of %d rows (after the first "
        "write-back: %d rows updated, 1 deleted):\n"
        "  today's step: %s\n"
        "  server-side blocks: %s; %d of its blocks read fewer rows than the snapshot "
        "counted\n",
        rows, rows - 1000, qPrintable(oursSays),
        qPrintable(difference(snapshot, tableLines(toServer))), s.shortBlocks);
    return 0;
}

// Values whose conversion the server makes otherwise than the client's copy: a NUMERIC(15,2)
// into a NUMERIC(15,1) column, and a date as text (dd/MM/yyyy) into a DATE column. The block
// reads into variables of the target's column types, as a server-side write-back must.
int conversionCase(test::TempFolder& folder) {
    const QString source =
        test::kServerPrefix + test::createDatabase(folder.path(QStringLiteral("conv-origem.fdb")),
                                                   "create table CONV_ESCALA (K integer not null "
                                                   "primary key, A numeric(15,2));\n"
                                                   "create table CONV_DATA (K integer not null "
                                                   "primary key, D varchar(10));\n");
    Connection con(QStringLiteral("Con_Bench"));
    con.Params = Connection::editParams(source);
    con.ExecuteDirect(QStringLiteral("insert into CONV_ESCALA values (1, 1.25)"));
    con.ExecuteDirect(QStringLiteral("insert into CONV_DATA values (1, '01/02/2020')"));
    const QByteArray targetDdl =
        "create table CONV_ESCALA (K integer not null primary key, A numeric(15,1));\n"
        "create table CONV_DATA (K integer not null primary key, D date);\n";
    const QString toOurs =
        test::kServerPrefix +
        test::createDatabase(folder.path(QStringLiteral("conv-ours.fdb")), targetDdl);
    const QString toServer =
        test::kServerPrefix +
        test::createDatabase(folder.path(QStringLiteral("conv-server.fdb")), targetDdl);
    const QString sourcePath = QString::fromUtf8(serverPathOf(source));
    Connection server(QStringLiteral("Con_Velho"));
    server.Params = Connection::editParams(toServer);
    for (const char* t : {"CONV_ESCALA", "CONV_DATA"}) {
        const QString table = QString::fromLatin1(t);
        const QString column =
            table == QStringLiteral("CONV_DATA") ? QStringLiteral("D") : QStringLiteral("A");
        const QString ours = todaysStep(source, toOurs, table);
        server.ExecuteDirect(
            QStringLiteral("execute block as\n"
                           "  declare k type of column %1.K;\n"
                           "  declare v type of column %1.%2;\n"
                           "begin\n"
                           "  for execute statement 'select K, %2 from %1 order by K'\n"
                           "    on external '%3' into :k, :v\n"
                           "  do insert into %1 (K, %2) values (:k, :v);\n"
                           "end")
                .arg(table, column, sourcePath));
        std::printf(
            "%s (source %s):\n  today's step: %s%s\n  server-side block: %s\n", t,
            qPrintable(tableLines(source, table).join(u' ')),
            qPrintable(tableLines(toOurs, table).join(u' ')),
            ours.isEmpty() ? "" : qPrintable(QStringLiteral(" (the step ended: ") + ours + u')'),
            qPrintable(tableLines(toServer, table).join(u' ')));
    }
    return 0;
}

int run(int argc, char** argv);

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const FbException& e) {
        char text[2048];
        fb_get_master_interface()->getUtilInterface()->formatStatus(text, sizeof text,
                                                                    e.getStatus());
        std::fprintf(stderr, "%s\n", text);
        return 1;
    }
}

int run(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--conversions") == 0) {
        test::TempFolder folder;
        return conversionCase(folder);
    }
    if (argc > 1 && std::strcmp(argv[1], "--snapshot") == 0) {
        test::TempFolder folder;
        return snapshotCase(folder, argc > 2 ? std::atoi(argv[2]) : 2001);
    }
    const int rows = argc > 1 ? std::atoi(argv[1]) : 200000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const std::string copyBench = QDir(QCoreApplication::applicationDirPath())
                                      .filePath(QStringLiteral("copy_bench"))
                                      .toStdString();

    test::TempFolder folder;
    const QString source =
        test::kServerPrefix + test::createDatabase(folder.path(QStringLiteral("origem.fdb")),
                                                   table("PAT_DEPRECIACAO") + table("DEP_TETO"));
    Connection con(QStringLiteral("Con_Bench"));
    con.Params = Connection::editParams(source);
    bench::fillRows(source, QStringLiteral("PAT_DEPRECIACAO"), rows,
                    QStringLiteral(":i, :i / 12 + 1, mod(:i, 40), :i / 12 + 7,"
                                   " dateadd(mod(:i, 3650) day to date '2015-01-01'),"
                                   " mod(:i, 100000) * 1.37, :i * 2.11, mod(:i, 30) + 0.25"));
    QFile loadavg(QStringLiteral("/proc/loadavg"));
    loadavg.open(QIODevice::ReadOnly);
    std::printf(
        "%d rows of PAT_DEPRECIACAO, every-500 write-backs, best of %d rounds; load "
        "averages at the start: %s\n",
        rows, rounds, loadavg.readLine().trimmed().constData());
    double best[4] = {0, 0, 0, 0};
    for (int round = 0; round < rounds; ++round) {
        const auto fresh = [&](const char* name) {
            QFile::remove(folder.path(QString::fromLatin1(name)));
            return test::kServerPrefix +
                   test::createDatabase(folder.path(QString::fromLatin1(name)),
                                        table("PAT_DEPRECIACAO"));
        };
        // The ceiling inside one database.
        con.ExecuteDirect(QStringLiteral("delete from DEP_TETO"));
        double started = bench::wallMs();
        double serverCeiling = bench::serverCpuMs();
        con.ExecuteDirect(QStringLiteral("insert into DEP_TETO select * from PAT_DEPRECIACAO"));
        const double ceiling = rate(rows, bench::wallMs() - started);
        std::printf("  INSERT ... SELECT: server CPU per 1,000 rows %.1f ms\n",
                    (bench::serverCpuMs() - serverCeiling) * 1000.0 / rows);
        // Today's step, in a process of its own.
        const QString toOurs = fresh("ours.fdb");
        const std::string command = copyBench + " ours " + source.toStdString() + ' ' +
                                    toOurs.toStdString() + " PAT_DEPRECIACAO 500";
        double server0 = bench::serverCpuMs();
        FILE* p = popen(command.c_str(), "r");
        long long oursRows = 0;
        double oursMs = 0, cpu = 0;
        long peak = 0;
        if (!p || std::fscanf(p, "%lld %lf %ld %lf", &oursRows, &oursMs, &peak, &cpu) != 4)
            std::fprintf(stderr, "ours failed\n");
        if (p) pclose(p);
        const double ours = rate(oursRows, oursMs);
        std::printf("  ours: CPU per 1,000 rows: own %.1f ms, server %.1f ms\n",
                    cpu * 1000.0 / rows, (bench::serverCpuMs() - server0) * 1000.0 / rows);
        server0 = bench::serverCpuMs();
        double own0 = bench::processCpuMs();
        executeMs = commitMs = 0;
        const Outcome s = serverSide(source, fresh("server.fdb"), false);
        const double server = rate(s.rows, s.ms);
        std::printf(
            "  server-side blocks: %.0f ms executing, %.0f ms committing; CPU per 1,000 "
            "rows: own %.1f ms, server %.1f ms\n",
            executeMs, commitMs, (bench::processCpuMs() - own0) * 1000.0 / rows,
            (bench::serverCpuMs() - server0) * 1000.0 / rows);
        executeMs = commitMs = 0;
        const Outcome s1 = serverSide(source, fresh("server1.fdb"), true);
        std::printf("  the same blocks in one transaction: %.0f rows/s, %.0f ms executing\n",
                    rate(s1.rows, s1.ms), executeMs);
        server0 = bench::serverCpuMs();
        const Outcome e = externalCeiling(source, fresh("external.fdb"));
        std::printf("  one external read: server CPU per 1,000 rows %.1f ms\n",
                    (bench::serverCpuMs() - server0) * 1000.0 / rows);
        const double external = rate(rows, e.ms);
        // What each write-back costs beside its rows: the same blocks over empty ranges, each in
        // a transaction of its own and all in one.
        server0 = bench::serverCpuMs();
        const Outcome ea = serverSide(source, fresh("empty.fdb"), false, {}, true);
        const double eaServer = bench::serverCpuMs() - server0;
        server0 = bench::serverCpuMs();
        const Outcome eb = serverSide(source, fresh("empty1.fdb"), true, {}, true);
        const double ebServer = bench::serverCpuMs() - server0;
        const double writeBacks = 1 + (rows + 498) / 500;
        std::printf(
            "  an empty block per transaction: %.1f ms and %.1f ms of server CPU per "
            "write-back; all in one transaction: %.1f ms and %.1f ms\n",
            ea.ms / writeBacks, eaServer / writeBacks, eb.ms / writeBacks, ebServer / writeBacks);
        std::printf(
            "round %d: ours %.0f rows/s, server-side blocks %.0f rows/s, one external "
            "read %.0f rows/s, INSERT ... SELECT %.0f rows/s\n",
            round + 1, ours, server, external, ceiling);
        std::fflush(stdout);
        best[0] = std::max(best[0], ours);
        best[1] = std::max(best[1], server);
        best[2] = std::max(best[2], external);
        best[3] = std::max(best[3], ceiling);
    }
    std::printf(
        "best: ours %.0f, server-side blocks %.0f (%.2fx ours), one external read %.0f, "
        "INSERT ... SELECT %.0f rows/s\n",
        best[0], best[1], best[1] / best[0], best[2], best[3]);
    return 0;
}
