#pragma once
// The size of a database's file as its server sees it: the pages it has allocated times their
// size. It is the file's size also when the server is on another machine, and it says what a
// run left in the file, free pages included.

#include <cstdint>

namespace patrimonio {

class Connection;

// Raises DatabaseError when the server cannot say.
std::int64_t databaseFileBytes(Connection& connection);

}  // namespace patrimonio
