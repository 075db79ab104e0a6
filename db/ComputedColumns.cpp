#include "db/ComputedColumns.h"

#include <QStringList>
#include <vector>

#include "core/Text.h"
#include "db/PreparedStatement.h"

namespace patrimonio::detail {

using namespace Firebird;

namespace {

// The first column of every row of a query, as text.
QStringList firstColumnTexts(Connection::Impl& c, ITransaction* tra, const QString& text) {
    fb::Status st;
    QStringList out;
    fb::Statement stmt(c.att(), tra, toWin1252(text), c.dialect);
    fb::Ref<IMessageMetadata> meta(stmt->getOutputMetadata(&st));
    const MessageLayout layout = MessageLayout::of(meta.get());
    std::vector<unsigned char> buf(layout.length);
    fb::Ref<IResultSet> rs(stmt->openCursor(&st, tra, nullptr, nullptr, meta.get(), 0));
    while (rs->fetchNext(&st, buf.data()) == IStatus::RESULT_OK)
        out << fromWin1252(layout.read(buf.data(), 0).toBytes());
    rs->close(&st);
    rs.release();
    stmt.free(&st);
    return out;
}

}  // namespace

const QSet<QString>& computedColumns(Connection::Impl& c, ITransaction* tra,
                                     const QString& relation) {
    auto it = c.computedColumns.find(relation);
    if (it != c.computedColumns.end()) return *it;
    const QStringList names = firstColumnTexts(
        c, tra,
        QStringLiteral("select trim(rf.rdb$field_name) from rdb$relation_fields rf "
                       "join rdb$fields f on f.rdb$field_name = rf.rdb$field_source "
                       "where f.rdb$computed_blr is not null and rf.rdb$relation_name = ") +
            quotedSql(relation));
    return *c.computedColumns.insert(relation, QSet<QString>(names.begin(), names.end()));
}

}  // namespace patrimonio::detail
