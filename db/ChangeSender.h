#pragma once
// Sends a record set's pending changes in one transaction: an INSERT naming the assigned fields
// per new row, an UPDATE of the changed fields per edited row, and tells which rows the server
// refused.
//
// Consecutive new rows that name the same fields travel many to a statement: an EXECUTE BLOCK
// whose input parameters carry the rows, one INSERT per row inside. The server undoes a failed
// statement on its own, so when a packet fails over one of its rows, that packet's rows are
// sent again one by one, each with the very INSERT a lone row gets, to find the refused one
// and report it with the server's own words.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/ConnectionImpl.h"
#include "db/PreparedStatement.h"

namespace patrimonio::detail {

// Firebird 3's limits on one statement, found by trying them on the server:
// - an EXECUTE BLOCK holds at most 256 INSERTs ("Too many Contexts of Relation/Procedure/Views.
//   Maximum allowed is 256": each INSERT is one context);
// - at most 32,767 parameters ("Maximum number of parameters: 32767");
// - at most 10,485,760 bytes of text ("SQL statement is too long");
// - the input message has no bound of its own that these let one reach: 256 rows of a
//   VARCHAR(8000) column (a 2 MB message) run as they should.
constexpr int kMaxPacketRows = 256;
constexpr int kMaxParams = 32767;
constexpr qsizetype kMaxStatementBytes = 10485760;

// How many rows of `columns` parameters each, each taking `rowTextBytes` of statement text,
// one EXECUTE BLOCK may carry, the block's own text (`fixedTextBytes`) included.
int packetRows(int columns, qsizetype rowTextBytes, qsizetype fixedTextBytes);

// The EXECUTE BLOCK that inserts `rows` rows into the quoted table, naming the columns given;
// the values are its input parameters, row after row, in column order.
QString packetText(const QString& quotedTable, const QStringList& columns, int rows);

// The pending changes, in posting order, as the sender asks for them.
class PendingChanges {
public:
    virtual ~PendingChanges() = default;
    virtual size_t size() const = 0;
    virtual bool isInsert(size_t change) const = 0;
    // The fields a new row names, one character per field: '1' named, '0' not.
    virtual std::string namedFields(size_t change) const = 0;
    // The statement of one change and its parameters; empty text when there is nothing to send.
    virtual QString statement(size_t change, std::vector<Param>* params) const = 0;
    // The values of fields `named` of a new row, appended to `params`.
    virtual void values(size_t change, const std::vector<int>& named,
                        std::vector<Param>* params) const = 0;
};

// What one sending did.
struct Sent {
    std::vector<char> refused;  // per change: the server refused it
    int refusedCount = 0;
    // More rows were refused than allowed: the caller rolls the whole call back.
    bool stopped = false;
    // The first refused change, and why.
    size_t firstRefused = 0;
    QString message, sqlState;
};

class ChangeSender {
public:
    explicit ChangeSender(Connection::Impl& connection) : connection_(connection) {}
    ~ChangeSender() { dropStatements(); }
    ChangeSender(const ChangeSender&) = delete;
    ChangeSender& operator=(const ChangeSender&) = delete;

    // Sends the changes to the quoted table in `tra`, `columns` being each field's column
    // (empty: none). A refused row is counted and sending goes on, until more than maxErrors
    // are refused (a negative maxErrors: any number). Any failure that is not about a row
    // (connection lost, read-only database, missing table...) raises DatabaseError.
    Sent send(Firebird::ITransaction* tra, const QString& table,
              const std::vector<QString>& columns, const PendingChanges& changes, int maxErrors);

    // How many statements the last sending sent (new rows travel many to a statement).
    int statementsSent() const { return statementsSent_; }
    void startWriteBack() { statementsSent_ = 0; }
    // New rows may travel in packets again: a write-back went through without a refusal, or
    // the rows are new.
    void allowPackets() { rowsOneByOne_ = false; }
    // Lets the prepared statements go: the record set is closed or given a new query.
    void dropStatements();
    // Takes the prepared statements (and what was learned about packets) of another sender on
    // the same connection, for the same fields; its own go first.
    void takeStatementsFrom(ChangeSender& other);

private:
    // The statement kept under key, prepared from text() the first time.
    PreparedStatement& statement(const std::string& key, Firebird::ITransaction* tra,
                                 const std::function<QString()>& text);

    Connection::Impl& connection_;
    // The INSERT, UPDATE and packet statements, kept across write-backs (a prepared statement
    // runs in any transaction of its attachment) until Close or the attachment is replaced.
    std::unordered_map<std::string, PreparedStatement> statements_;
    std::uint64_t statementsAttachment_ = 0;
    bool packetsRefused_ = false;  // the server would not prepare a packet for this table
    // A packet failed over one of its rows: until a write-back goes through without a refusal,
    // new rows go one by one. The caller drops the refused row and sends the rest again, and a
    // packet of each new size would cost the server a prepare for every refused row.
    bool rowsOneByOne_ = false;
    std::unordered_map<std::string, int> packetLimits_;  // rows per packet, by fields named
    int statementsSent_ = 0;
};

}  // namespace patrimonio::detail
