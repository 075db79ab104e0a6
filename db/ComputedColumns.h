#pragma once
// Which columns of a table are COMPUTED BY, asked of the catalogue once per table and kept by
// the connection until it connects again: a record set never writes them.

#include <QSet>
#include <QString>

#include "db/ConnectionImpl.h"

namespace patrimonio::detail {

// Read in `tra` the first time; raises Firebird::FbException.
const QSet<QString>& computedColumns(Connection::Impl& c, Firebird::ITransaction* tra,
                                     const QString& relation);

}  // namespace patrimonio::detail
