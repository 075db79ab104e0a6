#pragma once
// The client's OO API without any of the program's own layers, for the loops the benchmarks
// hold the program against: one status, attachments as SYSDBA, plain transactions.

#include <firebird/Interface.h>

#include <QString>
#include <utility>
#include <vector>

namespace patrimonio::bench {

// An interface of the client released on every path: an attachment still attached is
// detached, a transaction still open rolled back, a statement freed. A call that ends it
// (commit, detach, free) goes through end(), which hands it over first.
template <class T>
class Owned {
public:
    explicit Owned(T* held = nullptr) : held_(held) {}
    ~Owned() {
        if (held_) held_->release();
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned& operator=(T* held) {
        if (held_) held_->release();
        held_ = held;
        return *this;
    }
    T* operator->() const { return held_; }
    T* get() const { return held_; }
    explicit operator bool() const { return held_ != nullptr; }
    T* end() { return std::exchange(held_, nullptr); }

private:
    T* held_;
};

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
