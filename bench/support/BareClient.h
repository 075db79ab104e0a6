#pragma once
// The client's OO API without any of the program's own layers, for the loops the benchmarks
// hold the program against: one status, attachments as SYSDBA, plain transactions.

#include <firebird/Interface.h>

#include <QString>
#include <utility>
#include <vector>

namespace patrimonio::bench {

// The loops hold the client's interfaces in fb::Ref (db/FbApi.h): released on every path, and
// handed over by release() to a call that ends them (commit, detach, free).

class BareClient {
public:
    BareClient();
    ~BareClient();
    BareClient(const BareClient&) = delete;
    BareClient& operator=(const BareClient&) = delete;

    Firebird::IMaster* master() const { return master_; }
    Firebird::ThrowStatusWrapper& st() { return st_; }

    // `database` as the client names it: through the server ("127.0.0.1/3052:/path") or a
    // bare path for the embedded engine.
    Firebird::IAttachment* attach(const QString& database);

    // Read committed, the last committed version of a row, waiting on locks.
    enum class Access { ReadOnly, ReadWrite };
    Firebird::ITransaction* begin(Firebird::IAttachment* attachment, Access access);

private:
    Firebird::IMaster* master_;
    Firebird::IStatus* status_;
    Firebird::ThrowStatusWrapper st_;
};

// Where a column's value and null flag lie in a message, and the bytes its value takes.
struct Slot {
    unsigned value, null, length;
};
std::vector<Slot> slotsOf(Firebird::IMessageMetadata* meta, Firebird::ThrowStatusWrapper& st);

}  // namespace patrimonio::bench
