#pragma once
// Register databases for the benchmarks that run steps: a source and a target on the private
// server, filled by the register generator, and the bare row-by-row copy the steps are measured
// against.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace patrimonio {
class DataModule;
}

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

// The generator's register with `depreciations` depreciation rows (the demo register holds
// 240), and a target holding its own organs: the register the import benchmarks grow.
DatabasePair makeGrownPair(const QString& folder, const QString& name, int depreciations);

// A copy of both files of the pair, `<name>-origem.fdb` and `<name>-destino.fdb` beside them,
// made afresh (a run then starts from the same files every time). Throws std::runtime_error
// when a file cannot be copied.
DatabasePair freshCopy(const DatabasePair& pair, const QString& name);

// The module's source (Con_Novo) and target (Con_Velho) connections on the pair, through the
// server, open.
void openPair(DataModule& data, const DatabasePair& pair);

// Rows 1 to `rows` of `table` made by the server itself in one EXECUTE BLOCK: `values` is the
// VALUES list of each row's INSERT, where :i is the row's number. `database` as the client names
// it (through the server: "127.0.0.1/3052:/path").
void fillRows(const QString& database, const QString& table, int rows, const QString& values);

// Rows `first` to `last` of a PAT_BEM of codes, descriptions ("Bem") and photos: row `code`
// holds samples[code % samples.size()] named foto<code>.jpg. Sent through the client, a
// write-back every 20 rows; `database` as the client names it.
void appendPhotoRows(const QString& database, int first, int last,
                     const std::vector<QByteArray>& samples);

// Every row of `table` deleted and committed.
void emptyTable(const QString& database, const QByteArray& table);

}  // namespace patrimonio::bench
