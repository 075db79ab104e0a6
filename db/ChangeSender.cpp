#include "db/ChangeSender.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "core/Errors.h"
#include "core/Text.h"
#include "db/WriteBackSql.h"

namespace patrimonio::detail {

using namespace Firebird;

namespace {

const QString kMoreThanOne = QStringLiteral("Update affected more than 1 record.");

struct Refused {
    QString message;
    QString sqlState;
};

// Runs one statement. A failure about the row itself comes back as its message; any other
// failure (the connection lost, the database read-only, a missing table...) is raised.
template <class F>
std::optional<Refused> rowRefusal(F&& send) {
    try {
        send();
        return std::nullopt;
    } catch (const FbException& e) {
        const DatabaseError error = fb::toDatabaseError(e);
        if (error.connectionLost() || !fb::refusesTheRow(e.getStatus()->getErrors())) throw error;
        return Refused{error.message(), error.sqlState()};
    } catch (const DatabaseError&) {
        throw;
    } catch (const AppError& e) {
        // A value the column cannot take, found while placing it.
        return Refused{e.message(), {}};
    }
}

}  // namespace

int packetRows(int columns, qsizetype rowTextBytes, qsizetype fixedTextBytes) {
    if (columns <= 0 || rowTextBytes <= 0) return 1;
    const qsizetype byText = (kMaxStatementBytes - fixedTextBytes) / rowTextBytes;
    const qsizetype byParams = kMaxParams / columns;
    return static_cast<int>(
        std::max<qsizetype>(1, std::min<qsizetype>({kMaxPacketRows, byParams, byText})));
}

QString packetText(const QString& quotedTable, const QStringList& columns, int rows) {
    QStringList quotedColumns;
    for (const QString& c : columns) quotedColumns << sql::quoted(c);
    const QString names = quotedColumns.join(QStringLiteral(", "));
    QString params, body;
    for (int r = 0; r < rows; ++r) {
        QStringList marks;
        for (qsizetype j = 0; j < columns.size(); ++j) {
            const QString p = QStringLiteral("p%1_%2").arg(r).arg(j);
            if (!params.isEmpty()) params += QStringLiteral(",\n  ");
            params += p + QStringLiteral(" type of column ") + quotedTable + u'.' +
                      quotedColumns[j] + QStringLiteral(" = ?");
            marks << u':' + p;
        }
        body += QStringLiteral("  insert into ") + quotedTable + QStringLiteral(" (") + names +
                QStringLiteral(") values (") + marks.join(QStringLiteral(", ")) +
                QStringLiteral(");\n");
    }
    return QStringLiteral("execute block (\n  ") + params + QStringLiteral(")\nas begin\n") + body +
           QStringLiteral("end");
}

void ChangeSender::takeStatementsFrom(ChangeSender& other) {
    dropStatements();
    statements_ = std::move(other.statements_);
    other.statements_.clear();
    statementsAttachment_ = other.statementsAttachment_;
    packetsRefused_ = std::exchange(other.packetsRefused_, false);
    packetLimits_ = std::move(other.packetLimits_);
    other.packetLimits_.clear();
}

void ChangeSender::dropStatements() {
    packetsRefused_ = false;
    packetLimits_.clear();
    if (statements_.empty()) return;
    // Statements of an attachment that was replaced go with it: only released, never freed.
    const bool sameAttachment = connection_.attachmentNumber == statementsAttachment_;
    for (auto& [key, p] : statements_)
        if (!sameAttachment) p.stmt.abandon();
    statements_.clear();
}

PreparedStatement& ChangeSender::statement(const std::string& key, ITransaction* tra,
                                           const std::function<QString()>& text) {
    auto it = statements_.find(key);
    if (it == statements_.end())
        it = statements_.emplace(key, prepare(connection_, tra, text())).first;
    return it->second;
}

Sent ChangeSender::send(ITransaction* tra, const QString& table,
                        const std::vector<QString>& columns, const PendingChanges& changes,
                        int maxErrors) {
    Connection::Impl& c = connection_;
    if (statementsAttachment_ != c.attachmentNumber) {
        dropStatements();
        statementsAttachment_ = c.attachmentNumber;
    }
    const int fieldCount = static_cast<int>(columns.size());
    Sent sent;
    sent.refused.assign(changes.size(), 0);
    fb::Status st;

    // One change on its own; true when the call must stop (the allowance is spent).
    const auto sendOne = [&](size_t k) {
        const bool insert = changes.isInsert(k);
        std::vector<Param> params;
        const QString text = changes.statement(k, &params);
        if (text.isEmpty()) return false;
        ISC_UINT64 affected = 1;
        std::optional<Refused> r = rowRefusal([&] {
            PreparedStatement& p = statement(text.toStdString(), tra, [&] { return text; });
            bindParams(p, c, tra, params);
            ++statementsSent_;
            p.stmt->execute(&st, tra, p.in.get(), p.buffer.data(), nullptr, nullptr);
            // The server counts every INSERT that does not fail as one row (even one that a
            // view's trigger drops), so asking would only cost a round trip.
            affected = insert ? 1 : p.stmt->getAffectedRecords(&st);
        });
        if (!r && affected == 0) r = Refused{kRecordChanged, {}};
        if (!r && !insert && affected > 1) r = Refused{kMoreThanOne, {}};
        if (!r) return false;
        sent.refused[k] = 1;
        if (sent.refusedCount++ == 0) {
            sent.firstRefused = k;
            sent.message = r->message;
            sent.sqlState = r->sqlState;
        }
        return maxErrors >= 0 && sent.refusedCount > maxErrors;
    };

    // The named fields of a mask, and their columns.
    const auto namedOf = [&](const std::string& mask, QStringList* names, std::vector<int>* named) {
        for (int i = 0; i < fieldCount; ++i)
            if (mask[i] == '1') {
                *names << columns[i];
                if (named) named->push_back(i);
            }
    };

    // Consecutive new rows naming the same fields as one packet, up to what one statement can
    // carry. Returns false when the packet failed over one of its rows.
    const auto sendPacket = [&](size_t from, size_t to, const std::string& mask) {
        QStringList names;
        std::vector<int> named;
        namedOf(mask, &names, &named);
        const int rows = static_cast<int>(to - from);
        const std::string key = "packet " + std::to_string(rows) + ' ' + mask;
        std::vector<Param> params;
        params.reserve(static_cast<size_t>(rows) * named.size());
        for (size_t k = from; k < to; ++k) changes.values(k, named, &params);
        PreparedStatement* p = nullptr;
        try {
            p = &statement(key, tra, [&] { return packetText(table, names, rows); });
        } catch (const FbException& e) {
            const DatabaseError error = fb::toDatabaseError(e);
            if (error.connectionLost()) throw error;
            // A table the server will not pack (a limit of its own): rows go one by one.
            packetsRefused_ = true;
            return false;
        }
        const bool went =
            !rowRefusal([&] {
                 bindParams(*p, c, tra, params);
                 ++statementsSent_;
                 p->stmt->execute(&st, tra, p->in.get(), p->buffer.data(), nullptr, nullptr);
             }).has_value();
        if (!went) rowsOneByOne_ = true;
        return went;
    };

    for (size_t k = 0; k < changes.size() && !sent.stopped;) {
        if (changes.isInsert(k) && !packetsRefused_ && !rowsOneByOne_) {
            const std::string mask = changes.namedFields(k);
            const int columnsNamed = static_cast<int>(std::count(mask.begin(), mask.end(), '1'));
            auto known = packetLimits_.find(mask);
            if (known == packetLimits_.end()) {
                QStringList names;
                namedOf(mask, &names, nullptr);
                const qsizetype oneRow = toWin1252(packetText(table, names, 1)).size();
                // Parameter names grow with the row number: allow for it.
                known = packetLimits_
                            .emplace(mask, packetRows(columnsNamed, oneRow + 8 * columnsNamed, 0))
                            .first;
            }
            const int limit = known->second;
            size_t end = k + 1;
            while (end < changes.size() && end - k < static_cast<size_t>(limit) &&
                   changes.isInsert(end) && changes.namedFields(end) == mask)
                ++end;
            if (end - k >= 2 && columnsNamed > 0) {
                if (!sendPacket(k, end, mask)) {
                    for (size_t j = k; j < end && !sent.stopped; ++j) sent.stopped = sendOne(j);
                }
                k = end;
                continue;
            }
        }
        sent.stopped = sendOne(k);
        ++k;
    }
    return sent;
}

}  // namespace patrimonio::detail
