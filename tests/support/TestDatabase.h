#pragma once
// Real database files for tests, on the private server (127.0.0.1:3052, SYSDBA/quillfern).
// Each test makes its own files in its own temporary folder.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace patrimonio::test {

inline const QString kServerPrefix = QStringLiteral("127.0.0.1/3052:");
inline const QString kPassword = QStringLiteral("quillfern");

// Runs an isql script against a database (or with no database, for CREATE DATABASE).
// The script is sent as bytes, so WIN1252 text in it reaches the server unchanged.
// Throws std::runtime_error with isql's output when isql reports an error.
void runIsql(const QByteArray& script, const QString& database = {});

// Creates an empty database file (dialect 3, 8 KB pages, default character set NONE) through
// the server and runs the DDL on it. Returns the file path.
QString createDatabase(const QString& path, const QByteArray& ddl = {});

// Fetches the result of a query as text lines, one per row, columns separated by '|'
// (NULL as "<null>"), through the server. For checking what a step wrote.
QStringList queryRows(const QString& path, const QString& sql);

// Every row of every user table of a database, table by table in name order, each row in the
// order of its first column, BLOBs by their length and a hash of their bytes: two databases
// that give the same list hold the same rows.
QStringList databaseContents(const QString& path);

// Restores the copy `backup` (Firebird's own backup format) with Firebird's own tool (gbak,
// through the server) into the new database `restored`. Throws std::runtime_error with gbak's
// output when it fails.
void restoreBackup(const QString& backup, const QString& restored);

// A file of tests/fixtures (schema.sql, source-view.sql); throws std::runtime_error when it
// cannot be read.
QByteArray fixtureFile(const char* name);

// A temporary folder that is removed at the end of the test. When the server on 127.0.0.1:3052
// runs as another user (Firebird as Debian runs it, as `firebird`) and the caller belongs to
// that user's group, the folder is handed to the group (setgid, 02770) so that the server can
// make and open database files in it; otherwise it stays the caller's alone (0700).
class TempFolder {
public:
    TempFolder();
    QString path(const QString& name = {}) const;
    // Makes the subfolder `name` (and those above it), shared as this folder is: a folder where
    // the server must make database files.
    QString folder(const QString& name) const;

private:
    QTemporaryDir dir_;
};

}  // namespace patrimonio::test
