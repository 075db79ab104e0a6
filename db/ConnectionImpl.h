#pragma once
// What a connection holds on the client side; shared by the record sets that work through it.

#include <QHash>
#include <QSet>

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
    // How many transactions this connection started (for checks).
    long long transactionsStarted = 0;
    // Per table, the names of its COMPUTED BY columns (read once per table).
    QHash<QString, QSet<QString>> computedColumns;

    Firebird::IAttachment* att() const { return attachment.get(); }
    fb::Transaction begin(bool readOnly) {
        fb::Transaction t = fb::startReadCommitted(att(), readOnly);
        ++transactionsStarted;
        return t;
    }
    void detach();
    void forgetSchema() { computedColumns.clear(); }
};

}  // namespace patrimonio
