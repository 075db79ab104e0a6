#pragma once
// A row's BLOBs, read when one of its fields asks for them: a record set reads its rows without
// their BLOBs, so that a photo of a few hundred kilobytes is read only for the row that needs it.

#include <QString>
#include <vector>

#include "db/ConnectionImpl.h"
#include "db/FieldType.h"
#include "db/PreparedStatement.h"
#include "db/Value.h"

namespace patrimonio::detail {

// The BLOBs of one row found again by its values as read, in a read-only transaction of its
// own: `select` names the BLOB columns and finds the row (sql::blobSelectText), `params` are the
// values it compares, `types` the BLOB fields' types in the order selected. Raises
// DatabaseError, with kRecordChanged when no row answers.
std::vector<Value> fetchBlobsByValues(Connection::Impl& c, const QString& select,
                                      const std::vector<Param>& params,
                                      const std::vector<FieldType>& types);

// The BLOBs of fields `fields` of a fetched row, read by their ids in `tra`, the transaction
// the row was read in (a cursor's snapshot still open). Raises DatabaseError.
std::vector<Value> readBlobsById(Connection::Impl& c, Firebird::ITransaction* tra,
                                 const unsigned char* row, const MessageLayout& layout,
                                 const std::vector<int>& fields);

}  // namespace patrimonio::detail
