#pragma once
// Which database a connection is on, as the server itself sees it: two connections may reach
// one database by different paths (another spelling, "./" and "..", a symbolic or a hard link,
// an alias the server resolves), and the typed text cannot tell.

#include <QString>

namespace patrimonio {

class Connection;

// The database file the server opened for this connection.
QString serverDatabaseName(Connection& connection);

// True when both open connections are attached to one and the same database. Decided by the
// server: a mark set on one attachment is looked for among the attachments of the other's
// database; the file's identity on this machine settles it too where both paths are local.
bool sameDatabase(Connection& a, Connection& b);

}  // namespace patrimonio
