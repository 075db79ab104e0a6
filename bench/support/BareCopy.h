#pragma once
// The honest reference the copy steps are measured against: a plain row-by-row copy written
// directly on the client's OO API, as fast as plain code makes it. One cursor on the source in
// a read-only transaction of its own; one INSERT prepared once on the target, its parameters
// bound as their own types in one message buffer reused for every row; a commit after row 0
// and every 500 rows after it (or after every row), as the steps commit.

#include <QByteArray>
#include <QString>

#include "BenchDatabases.h"

namespace patrimonio::bench {

enum class Commits { Every500Rows, EveryRow };

// How each row's values reach the INSERT. OwnTypes is the reference; SelectMessage hands the
// fetched message itself to the INSERT, described by the SELECT's metadata (NOT NULL columns
// not nullable), as the benchmarks' loops did before; kept to compare the two forms.
enum class Parameters { OwnTypes, SelectMessage };

struct BareCopy {
    long long rows = 0;
    double seconds = 0;        // from the SELECT's prepare to the last commit, attaching left out
    double commitSeconds = 0;  // of which the commits: on a disk that syncs slowly, the floor
    int commits = 0;
};

// Copies `columns` (every column when empty) of `table` from `source` to `target`, both named
// as the client names them (through the server: "127.0.0.1/3052:/path"). Throws
// Firebird::FbException when the server refuses.
BareCopy bareCopy(const QString& source, const QString& target, const QByteArray& table,
                  const QByteArray& columns, Commits commits,
                  Parameters parameters = Parameters::OwnTypes);

// The same on a register pair through the private server.
BareCopy bareCopy(const DatabasePair& pair, const QByteArray& table, const QByteArray& columns,
                  Commits commits);

}  // namespace patrimonio::bench
