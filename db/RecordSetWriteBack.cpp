// The write-back: the change log turned into INSERT and UPDATE statements, sent in one
// transaction; a refused row rolls the whole call back and leaves the log as it was.
//
// Consecutive new rows that name the same fields travel many to a statement: an EXECUTE BLOCK
// whose input parameters carry the rows, one INSERT per row inside. The server undoes a failed
// statement on its own, so when a packet fails over one of its rows, that packet's rows are
// sent again one by one, each with the very INSERT a lone row gets, to find the refused one
// and report it with the server's own words.

#include <QStringList>
#include <cstring>

#include "core/Errors.h"
#include "core/Text.h"
#include "db/RecordSetImpl.h"

namespace patrimonio {

using namespace Firebird;
using namespace detail;

namespace {

const QString kMoreThanOne = QStringLiteral("Update affected more than 1 record.");

[[noreturn]] void closedError() {
    throw AppError(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

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

namespace detail {

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

}  // namespace detail

std::unique_ptr<RecordSet::Impl::RowExtra> RecordSet::Impl::changedRow(const Change& ch) const {
    const auto it = extras.find(ch.row);
    if (it != extras.end()) return std::make_unique<RowExtra>(*it->second);
    return materialize(ch.row);
}

QString RecordSet::Impl::statementOf(const Change& ch, const QString& table,
                                     std::vector<Param>* params) const {
    const std::unique_ptr<RowExtra> x = changedRow(ch);
    QStringList names;
    for (int i = 0; i < count(); ++i) {
        if (!x->assigned[i] || columns[i].isEmpty()) continue;
        names << columns[i];
        if (params) params->push_back({x->cur[i], name(i)});
    }
    if (names.isEmpty()) return {};
    if (ch.insert) return sql::insertText(table, names);
    const QList<sql::WhereColumn> where = whereOf(x->asRead(), params);
    return sql::updateText(table, names, where);
}

QString RecordSet::Impl::tableName() const {
    const QString table = sql::tableOfSelect(self.commandText_);
    if (table.isEmpty())
        throw AppError(QStringLiteral("Unable to find the table to update in: ") +
                       self.commandText_);
    return table;
}

PreparedStatement& RecordSet::Impl::statement(const std::string& key, ITransaction* tra,
                                              const std::function<QString()>& text) {
    auto it = statements.find(key);
    if (it == statements.end()) it = statements.emplace(key, prepare(conn(), tra, text())).first;
    return it->second;
}

int RecordSet::Impl::applyUpdates(int maxErrors) {
    finishRow();
    refusal.reset();
    statementsSent = 0;
    if (changes.empty()) return 0;
    const QString table = tableName();
    self.connection_->Open();
    Connection::Impl& c = conn();
    if (statementsAttachment != c.attachmentNumber) {
        dropStatements();
        statementsAttachment = c.attachmentNumber;
    }
    std::optional<fb::Transaction> own;
    ITransaction* tra = c.activeTransaction;
    if (!tra) {
        own.emplace(c.begin(false));
        tra = own->get();
    }
    std::vector<char> refused(changes.size(), 0);
    int refusedCount = 0;
    fb::Status st;

    // One change on its own; true when the call must stop (the allowance is spent).
    const auto sendOne = [&](size_t k) {
        const Change& ch = changes[k];
        std::vector<Param> params;
        const QString text = statementOf(ch, table, &params);
        if (text.isEmpty()) return false;
        ISC_UINT64 affected = 1;
        std::optional<Refused> r = rowRefusal([&] {
            PreparedStatement& p = statement(text.toStdString(), tra, [&] { return text; });
            bindParams(p, c, tra, params);
            ++statementsSent;
            p.stmt->execute(&st, tra, p.in.get(), p.buffer.data(), nullptr, nullptr);
            // The server counts every INSERT that does not fail as one row (even one that a
            // view's trigger drops), so asking would only cost a round trip.
            affected = ch.insert ? 1 : p.stmt->getAffectedRecords(&st);
        });
        if (!r && affected == 0) r = Refused{kRecordChanged, {}};
        if (!r && !ch.insert && affected > 1) r = Refused{kMoreThanOne, {}};
        if (!r) return false;
        refused[k] = 1;
        ++refusedCount;
        if (!refusal) {
            const std::unique_ptr<RowExtra> x = changedRow(ch);
            Refusal f;
            f.changeIndex = static_cast<int>(k);
            f.message = r->message;
            f.sqlState = r->sqlState;
            f.firstColumn = x->cur.empty() ? Value() : x->cur[0];
            refusal = f;
        }
        return maxErrors >= 0 && refusedCount > maxErrors;
    };

    // The fields a new row names, one character per field.
    const auto namedFields = [&](const Change& ch) {
        std::string mask(static_cast<size_t>(count()), '0');
        const RowExtra* x = extraOf(ch.row);
        if (x) {
            for (int i = 0; i < count(); ++i)
                if (x->assigned[i] && !columns[i].isEmpty()) mask[i] = '1';
            return mask;
        }
        std::vector<unsigned char> tags(static_cast<size_t>(count()));
        packing.tags(rows.data(ch.row), tags.data());
        for (int i = 0; i < count(); ++i)
            if (tags[i] != kUnassigned && !columns[i].isEmpty()) mask[i] = '1';
        return mask;
    };

    // Consecutive new rows naming the same fields as one packet, up to what one statement can
    // carry. Returns false when the packet failed over one of its rows.
    const auto sendPacket = [&](size_t from, size_t to, const std::string& mask) {
        QStringList names;
        std::vector<int> named;
        for (int i = 0; i < count(); ++i)
            if (mask[i] == '1') {
                names << columns[i];
                named.push_back(i);
            }
        const int rows = static_cast<int>(to - from);
        const std::string key = "packet " + std::to_string(rows) + ' ' + mask;
        std::vector<Param> params;
        params.reserve(static_cast<size_t>(rows) * named.size());
        for (size_t k = from; k < to; ++k) {
            const std::unique_ptr<RowExtra> x = changedRow(changes[k]);
            for (int i : named) params.push_back({x->cur[i], name(i)});
        }
        PreparedStatement* p = nullptr;
        try {
            p = &statement(key, tra, [&] { return packetText(table, names, rows); });
        } catch (const FbException& e) {
            const DatabaseError error = fb::toDatabaseError(e);
            if (error.connectionLost()) throw error;
            // A table the server will not pack (a limit of its own): rows go one by one.
            packetsRefused = true;
            return false;
        }
        const bool sent =
            !rowRefusal([&] {
                 bindParams(*p, c, tra, params);
                 ++statementsSent;
                 p->stmt->execute(&st, tra, p->in.get(), p->buffer.data(), nullptr, nullptr);
             }).has_value();
        if (!sent) rowsOneByOne = true;
        return sent;
    };

    bool stop = false;
    for (size_t k = 0; k < changes.size() && !stop;) {
        const Change& ch = changes[k];
        if (ch.insert && !packetsRefused && !rowsOneByOne) {
            const std::string mask = namedFields(ch);
            const int columnsNamed = static_cast<int>(std::count(mask.begin(), mask.end(), '1'));
            auto known = packetLimits.find(mask);
            if (known == packetLimits.end()) {
                QStringList names;
                for (int i = 0; i < count(); ++i)
                    if (mask[i] == '1') names << columns[i];
                const qsizetype oneRow = toWin1252(packetText(table, names, 1)).size();
                // Parameter names grow with the row number: allow for it.
                known = packetLimits
                            .emplace(mask, packetRows(columnsNamed, oneRow + 8 * columnsNamed, 0))
                            .first;
            }
            const int limit = known->second;
            size_t end = k + 1;
            while (end < changes.size() && end - k < static_cast<size_t>(limit) &&
                   changes[end].insert && namedFields(changes[end]) == mask)
                ++end;
            if (end - k >= 2 && columnsNamed > 0) {
                if (!sendPacket(k, end, mask)) {
                    for (size_t j = k; j < end && !stop; ++j) stop = sendOne(j);
                }
                k = end;
                continue;
            }
        }
        stop = sendOne(k);
        ++k;
    }

    if (stop) {
        // Undo the whole call; the change log stays exactly as it was.
        if (own) own->rollback();
        return refusedCount;
    }
    if (own) own->commit();
    if (refusedCount == 0) rowsOneByOne = false;
    std::vector<Change> kept;
    for (size_t k = 0; k < changes.size(); ++k) {
        if (refused[k]) {
            kept.push_back(changes[k]);
            continue;
        }
        const std::uint32_t row = changes[k].row;
        if (RowExtra* x = extraOf(row)) {
            x->pending = false;
            x->inDatabase = true;
            x->orig.clear();
            std::fill(x->assigned.begin(), x->assigned.end(), 0);
        }
        if (rows.isNew(row)) {
            rows.data(row)[0] = kInDatabase;
            // A written row keeps its values; its BLOBs are fetched again if read.
            if (row != current) forgetBlobs(row);
        }
    }
    changes = std::move(kept);
    if (refusal) {
        for (size_t k = 0, n = 0; k < refused.size(); ++k)
            if (refused[k]) {
                refusal->changeIndex = static_cast<int>(n);
                break;
            } else {
                ++n;
            }
    }
    return refusedCount;
}

void RecordSet::Impl::dropChange(int index) {
    if (index < 0 || index >= static_cast<int>(changes.size()))
        throw AppError(QStringLiteral("No pending change %1").arg(index));
    const Change ch = changes[static_cast<size_t>(index)];
    changes.erase(changes.begin() + index);
    if (ch.insert) {
        // The new row never reached the database: it goes as if it had been cancelled.
        releaseBlobs(ch.row);
        extras.erase(ch.row);
        if (current == ch.row)
            current = rows.next(ch.row) != kNoRow ? rows.next(ch.row) : rows.prev(ch.row);
        rows.unlink(ch.row);
        if (rows.count() == 0) {
            current = kNoRow;
            self.eof_ = true;
        }
    } else if (RowExtra* x = extraOf(ch.row)) {
        x->pending = false;
        std::fill(x->assigned.begin(), x->assigned.end(), 0);
        if (!x->orig.empty()) {
            x->cur = std::move(x->orig);
            x->orig.clear();
        }
    }
    refusal.reset();
}

int RecordSet::ApplyUpdates(int MaxErrors) {
    if (!active()) closedError();
    return connection_->impl().watch([&] { return impl_->applyUpdates(MaxErrors); });
}

int RecordSet::pendingCount() const {
    return static_cast<int>(impl_->changes.size());
}

int RecordSet::lastWriteBackStatements() const {
    return impl_->statementsSent;
}

const std::optional<Refusal>& RecordSet::lastRefusal() const {
    return impl_->refusal;
}

void RecordSet::dropPendingChange(int changeIndex) {
    impl_->dropChange(changeIndex);
}

QString RecordSet::pendingStatementText(int changeIndex) const {
    if (changeIndex < 0 || changeIndex >= static_cast<int>(impl_->changes.size()))
        throw AppError(QStringLiteral("No pending change %1").arg(changeIndex));
    return impl_->statementOf(impl_->changes[changeIndex], impl_->tableName(), nullptr);
}

}  // namespace patrimonio
