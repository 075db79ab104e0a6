#include "db/DatabaseSize.h"

#include "db/Connection.h"
#include "db/RecordSet.h"

namespace patrimonio {

std::int64_t databaseFileBytes(Connection& connection) {
    RecordSet rs(connection);
    rs.setCommandText(
        QStringLiteral("SELECT CAST(MON$PAGES AS BIGINT) * MON$PAGE_SIZE FROM MON$DATABASE"));
    rs.Open();
    return rs.Eof() ? 0 : rs.Fields(0).AsVariant().integer();
}

}  // namespace patrimonio
