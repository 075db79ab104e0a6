// The write-back: the change log turned into INSERT and UPDATE statements, sent in one
// transaction; a refused row rolls the whole call back and leaves the log as it was.

#include <unordered_map>

#include "core/Errors.h"
#include "db/RecordSetImpl.h"

namespace patrimonio {

using namespace Firebird;
using namespace detail;

namespace {

const QString kMoreThanOne = QStringLiteral("Update affected more than 1 record.");

[[noreturn]] void closedError() {
    throw AppError(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

}  // namespace

QString RecordSet::Impl::statementOf(const Change& ch, const QString& table,
                                     std::vector<Param>* params) const {
    const RowExtra& x = *ch.row;
    QStringList names;
    for (int i = 0; i < count(); ++i) {
        if (!x.assigned[i] || columns[i].isEmpty()) continue;
        names << columns[i];
        if (params) params->push_back({x.cur[i], name(i)});
    }
    if (names.isEmpty()) return {};
    if (ch.insert) return sql::insertText(table, names);
    const QList<sql::WhereColumn> where = whereOf(x.asRead(), params);
    return sql::updateText(table, names, where);
}

QString RecordSet::Impl::tableName() const {
    const QString table = sql::tableOfSelect(self.commandText_);
    if (table.isEmpty())
        throw AppError(QStringLiteral("Unable to find the table to update in: ") +
                       self.commandText_);
    return table;
}

int RecordSet::Impl::applyUpdates(int maxErrors) {
    finishRow();
    refusal.reset();
    if (changes.empty()) return 0;
    const QString table = tableName();
    self.connection_->Open();
    Connection::Impl& c = conn();
    std::optional<fb::Transaction> own;
    ITransaction* tra = c.activeTransaction;
    if (!tra) {
        own.emplace(c.begin(false));
        tra = own->get();
    }
    std::unordered_map<std::string, Prepared> cache;
    std::vector<char> refused(changes.size(), 0);
    int refusedCount = 0;
    fb::Status st;
    for (size_t k = 0; k < changes.size(); ++k) {
        const Change& ch = changes[k];
        QString message, sqlState;
        try {
            std::vector<Param> params;
            const QString text = statementOf(ch, table, &params);
            if (text.isEmpty()) continue;
            const std::string key = text.toStdString();
            auto it = cache.find(key);
            if (it == cache.end())
                it = cache.emplace(key, fb::guarded([&] { return prepare(c, tra, text); })).first;
            Prepared& p = it->second;
            const ISC_UINT64 affected = fb::guarded([&]() -> ISC_UINT64 {
                bindParams(p, c, tra, params);
                p.stmt->execute(&st, tra, p.in.get(), p.buffer.data(), nullptr, nullptr);
                // The server counts every INSERT that does not fail as one row (even one
                // that a view's trigger drops), so asking would only cost a round trip.
                return ch.insert ? 1 : p.stmt->getAffectedRecords(&st);
            });
            if (affected == 0) {
                message = kRecordChanged;
            } else if (!ch.insert && affected > 1) {
                message = kMoreThanOne;
            } else {
                continue;
            }
        } catch (const DatabaseError& e) {
            // A lost attachment is no refused row: the write-back as a whole has failed.
            if (e.connectionLost()) throw;
            message = e.message();
            sqlState = e.sqlState();
        } catch (const AppError& e) {
            message = e.message();
        }
        refused[k] = 1;
        ++refusedCount;
        if (!refusal) {
            Refusal r;
            r.changeIndex = static_cast<int>(k);
            r.message = message;
            r.sqlState = sqlState;
            r.firstColumn = ch.row->cur.empty() ? Value() : ch.row->cur[0];
            refusal = r;
        }
        if (maxErrors >= 0 && refusedCount > maxErrors) break;
    }
    cache.clear();
    if (maxErrors >= 0 && refusedCount > maxErrors) {
        // Undo the whole call; the change log stays exactly as it was.
        if (own) own->rollback();
        return refusedCount;
    }
    if (own) own->commit();
    std::vector<Change> kept;
    for (size_t k = 0; k < changes.size(); ++k) {
        if (refused[k]) {
            kept.push_back(changes[k]);
            continue;
        }
        RowExtra& x = *changes[k].row;
        x.pending = false;
        x.inDatabase = true;
        x.orig.clear();
        std::fill(x.assigned.begin(), x.assigned.end(), 0);
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
    RowExtra* x = changes[index].row;
    const bool insert = changes[index].insert;
    changes.erase(changes.begin() + index);
    x->pending = false;
    std::fill(x->assigned.begin(), x->assigned.end(), 0);
    if (insert) {
        // The new row never reached the database: it goes as if it had been cancelled.
        for (size_t r = 0; r < rows.size(); ++r)
            if (rows[r].extra.get() == x) {
                rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(r));
                if (current > static_cast<int>(r) || current >= static_cast<int>(rows.size()))
                    --current;
                if (rows.empty()) self.eof_ = true;
                break;
            }
    } else if (!x->orig.empty()) {
        x->cur = std::move(x->orig);
        x->orig.clear();
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
