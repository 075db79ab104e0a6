#include "BareCopy.h"

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "BareClient.h"
#include "BenchSupport.h"
#include "TestDatabase.h"
#include "db/FbApi.h"

using namespace Firebird;

namespace patrimonio::bench {

BareCopy bareCopy(const QString& source, const QString& target, const QByteArray& table,
                  const QByteArray& columns, Commits commits, Parameters parameters) {
    BareClient client;
    ThrowStatusWrapper& st = client.st();
    fb::Ref<IAttachment> from(client.attach(source));
    fb::Ref<IAttachment> to(client.attach(target));
    const double started = wallMs();

    fb::Ref<ITransaction> reading(client.begin(from.get(), BareClient::Access::ReadOnly));
    const QByteArray select =
        "SELECT " + (columns.isEmpty() ? QByteArray("*") : columns) + " FROM " + table;
    fb::Ref<IStatement> sel(from->prepare(&st, reading.get(), 0, select.constData(), 3,
                                          IStatement::PREPARE_PREFETCH_METADATA));
    fb::Ref<IMessageMetadata> out(sel->getOutputMetadata(&st));
    const unsigned n = out->getCount(&st);
    const QByteArray insert = "INSERT INTO " + table +
                              (columns.isEmpty() ? QByteArray() : " (" + columns + ")") +
                              " VALUES (" + QByteArray("?, ").repeated(n).chopped(2) + ")";
    fb::Ref<ITransaction> writing(client.begin(to.get(), BareClient::Access::ReadWrite));
    fb::Ref<IStatement> ins(to->prepare(&st, writing.get(), 0, insert.constData(), 3,
                                        IStatement::PREPARE_PREFETCH_METADATA));
    fb::Ref<IMessageMetadata> in(ins->getInputMetadata(&st));
    const std::vector<Slot> fetched = slotsOf(out.get(), st), bound = slotsOf(in.get(), st);
    for (unsigned i = 0; i < n; ++i) {
        if ((out->getType(&st, i) & ~1u) != (in->getType(&st, i) & ~1u) ||
            out->getScale(&st, i) != in->getScale(&st, i) || fetched[i].length != bound[i].length)
            throw std::runtime_error("bareCopy: column " + std::to_string(i) +
                                     " is not of one type in both tables");
    }
    std::vector<unsigned char> row(out->getMessageLength(&st)), message(in->getMessageLength(&st));
    const bool ownTypes = parameters == Parameters::OwnTypes;

    fb::Ref<IResultSet> cursor(sel->openCursor(&st, reading.get(), nullptr, nullptr, out.get(), 0));
    long long j = 0;
    double commitMs = 0;
    int commitCount = 0;
    const auto commit = [&] {
        const double t = wallMs();
        writing.release()->commit(&st);
        commitMs += wallMs() - t;
        ++commitCount;
    };
    while (cursor->fetchNext(&st, row.data()) == IStatus::RESULT_OK) {
        if (!writing) writing.reset(client.begin(to.get(), BareClient::Access::ReadWrite));
        if (ownTypes) {
            // The SELECT gives each column as the table holds it, so as the INSERT takes it.
            for (unsigned i = 0; i < n; ++i) {
                std::memcpy(&message[bound[i].value], &row[fetched[i].value], fetched[i].length);
                std::memcpy(&message[bound[i].null], &row[fetched[i].null], 2);
            }
            ins->execute(&st, writing.get(), in.get(), message.data(), nullptr, nullptr);
        } else {
            ins->execute(&st, writing.get(), out.get(), row.data(), nullptr, nullptr);
        }
        if (commits == Commits::EveryRow || j % 500 == 0) commit();
        ++j;
    }
    if (writing) commit();
    cursor.release()->close(&st);
    reading.release()->commit(&st);
    const BareCopy copy{j, (wallMs() - started) / 1000.0, commitMs / 1000.0, commitCount};
    ins.release()->free(&st);
    sel.release()->free(&st);
    from.release()->detach(&st);
    to.release()->detach(&st);
    return copy;
}

BareCopy bareCopy(const DatabasePair& pair, const QByteArray& table, const QByteArray& columns,
                  Commits commits) {
    return bareCopy(test::kServerPrefix + pair.source, test::kServerPrefix + pair.target, table,
                    columns, commits);
}

}  // namespace patrimonio::bench
