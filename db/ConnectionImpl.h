#pragma once
// What a connection holds on the client side; shared by the record sets that work through it.

#include <QHash>
#include <QSet>
#include <cstdint>

#include "db/Connection.h"
#include "db/FbApi.h"

namespace patrimonio {

struct Connection::Impl {
    fb::Ref<Firebird::IAttachment> attachment;
    QString database;  // the string the open attachment was made with
    unsigned dialect = 3;
    // A transaction somebody started on the connection; write-backs join it instead of
    // starting their own. The program itself never sets one.
    Firebird::ITransaction* activeTransaction = nullptr;
    // Which attachment this is: a new number for each one made, so that what was prepared on
    // a lost one is never used on its successor.
    std::uint64_t attachmentNumber = 0;
    // How many transactions this connection started (for checks).
    long long transactionsStarted = 0;
    // Per table, the names of its COMPUTED BY columns (read once per table).
    QHash<QString, QSet<QString>> computedColumns;
    // A call found the attachment gone (server stopped, network lost, attachment shut down).
    // The connection then counts as closed, and the next use drops it and connects again.
    bool lost = false;

    Firebird::IAttachment* att() const { return attachment.get(); }
    fb::Transaction begin(bool readOnly) {
        // A record set kept open across a Close() of its connection finds no attachment.
        if (!attachment) throw DatabaseError(QStringLiteral("A conexão com o banco está fechada."));
        fb::Transaction t = fb::startReadCommitted(att(), readOnly);
        ++transactionsStarted;
        return t;
    }
    void detach();
    void forgetSchema() { computedColumns.clear(); }

    // Runs f; an error saying the attachment is gone marks it lost on its way out.
    template <class F>
    decltype(auto) watch(F&& f) {
        try {
            return std::forward<F>(f)();
        } catch (const DatabaseError& e) {
            if (e.connectionLost()) lost = true;
            throw;
        }
    }
    // fb::guarded on this connection: the client's errors as DatabaseError, losses noted.
    template <class F>
    decltype(auto) guarded(F&& f) {
        return watch([&]() -> decltype(auto) { return fb::guarded(std::forward<F>(f)); });
    }
};

}  // namespace patrimonio
