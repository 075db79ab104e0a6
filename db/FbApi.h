#pragma once
// The one place where the Firebird client's OO API meets the rest of the program: the master
// interface, status vectors turned into DatabaseError, and owner objects that release every
// interface on every path.

#include <firebird/Interface.h>

#include <QByteArray>
#include <QString>
#include <utility>

#include "core/Errors.h"

namespace patrimonio::fb {

Firebird::IMaster* master();
Firebird::IUtil* util();

// A status vector that throws Firebird::FbException on error.
class Status {
public:
    Status() : status_(master()->getStatus()), wrapper_(status_) {}
    ~Status() { status_->dispose(); }
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;
    Firebird::ThrowStatusWrapper* operator&() { return &wrapper_; }

private:
    Firebird::IStatus* status_;
    Firebird::ThrowStatusWrapper wrapper_;
};

// Whether a failed statement's status vector says the server refused the row itself: a
// constraint (unique or primary key, foreign key, NOT NULL, CHECK), a value the column cannot
// take (conversion, truncation, overflow, a date out of range), an exception raised by the
// table's triggers, or a conflicting change by another transaction. Anything else (a lost
// connection, a read-only database, a full disk, a missing table or permission) is not.
bool refusesTheRow(const intptr_t* status);

// The server's message and SQLSTATE of a failed call, as the program's error.
DatabaseError toDatabaseError(const Firebird::FbException& e);

// Runs f, turning the client's exceptions into DatabaseError.
template <class F>
decltype(auto) guarded(F&& f) {
    try {
        return std::forward<F>(f)();
    } catch (const Firebird::FbException& e) {
        throw toDatabaseError(e);
    }
}

// Owns one reference-counted interface; releases it unless it was handed back to the client
// by a call that ends it (commit, close, free, detach).
template <class T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* p) : p_(p) {}
    ~Ref() { reset(); }
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // The interface was ended by a call that releases it itself.
    T* release() { return std::exchange(p_, nullptr); }
    void reset(T* p = nullptr) {
        if (p_) p_->release();
        p_ = p;
    }

private:
    T* p_ = nullptr;
};

// A transaction that is rolled back when it is dropped without a commit.
class Transaction {
public:
    Transaction() = default;
    explicit Transaction(Firebird::ITransaction* t) : t_(t) {}
    ~Transaction();
    Transaction(Transaction&& o) noexcept : t_(std::exchange(o.t_, nullptr)) {}
    Transaction& operator=(Transaction&&) = delete;
    Transaction(const Transaction&) = delete;

    Firebird::ITransaction* get() const { return t_; }
    explicit operator bool() const { return t_ != nullptr; }
    void commit();    // raises DatabaseError
    void rollback();  // raises DatabaseError

private:
    Firebird::ITransaction* t_ = nullptr;
};

// A prepared statement: freed on the server when dropped, or only released when the free
// fails (its attachment is gone). A prepared statement may run in any transaction of its
// attachment.
class Statement {
public:
    Statement() = default;
    // Prepares the text (already in the connection's bytes); raises Firebird::FbException.
    Statement(Firebird::IAttachment* att, Firebird::ITransaction* tra, const QByteArray& text,
              unsigned dialect);
    ~Statement() { drop(); }
    Statement(Statement&& o) noexcept : s_(std::exchange(o.s_, nullptr)) {}
    Statement& operator=(Statement&& o) noexcept {
        if (this != &o) {
            drop();
            s_ = std::exchange(o.s_, nullptr);
        }
        return *this;
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Firebird::IStatement* get() const { return s_; }
    Firebird::IStatement* operator->() const { return s_; }
    explicit operator bool() const { return s_ != nullptr; }
    // Frees it on the server now, raising Firebird::FbException when that fails.
    void free(Firebird::ThrowStatusWrapper* st);
    // Frees it quietly; what cannot be freed is released.
    void drop() noexcept;
    // Lets go of a statement whose attachment is gone, without asking the server.
    void abandon() noexcept;

private:
    Firebird::IStatement* s_ = nullptr;
};

// Starts a read-committed transaction (record versions, waiting on locks).
Transaction startReadCommitted(Firebird::IAttachment* att, bool readOnly);

// The whole content of a BLOB, read into a buffer reserved at its full length, in the
// largest segments the client hands out.
QByteArray readBlob(Firebird::IAttachment* att, Firebird::ITransaction* tra, ISC_QUAD id);

// Closes a result set without raising: it is also dropped while an error (a lost connection,
// say) leaves a step, and that error is the one to report. On a failed close the reference is
// let go instead.
void closeQuietly(Ref<Firebird::IResultSet>& rs);

// A read-only snapshot: the rows of one moment, whatever other transactions commit meanwhile.
Transaction startReadSnapshot(Firebird::IAttachment* att);
// A new BLOB holding the bytes; returns its id.
ISC_QUAD writeBlob(Firebird::IAttachment* att, Firebird::ITransaction* tra,
                   const QByteArray& bytes);

}  // namespace patrimonio::fb
