#pragma once
// Register databases for the benchmarks that run steps: a source and a target on the private
// server, filled by the register generator, and the bare row-by-row copy the steps are measured
// against.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace patrimonio::bench {

struct DatabasePair {
    QString source, target;
};

// Whether the source also holds the view a source register has; sources filled by hand
// without the generator do without it.
enum class SourceView { Without, With };

// `<name>-origem.fdb` and `<name>-destino.fdb` in `folder`, both from the register schema,
// through the server. Both start empty.
DatabasePair makeDatabasePair(const QString& folder, const QString& name, SourceView view);

// Runs the register generator with the arguments given (e.g. "--source", path, "--rows",
// "PAT_BEM=100"); throws std::runtime_error when it fails.
void generateRegister(const QStringList& args);

// The copy of the steps written directly on the client's OO API: one cursor on the source, one
// prepared INSERT on the target, a commit after row 0 and every 500 rows after it (or after
// every row). Returns the seconds from the first SELECT to the last commit, attaching and
// detaching left out. Throws Firebird::FbException when the server refuses.
enum class Commits { Every500Rows, EveryRow };
double bareCopy(const DatabasePair& pair, const QByteArray& columns, const QByteArray& table,
                Commits commits);

}  // namespace patrimonio::bench
