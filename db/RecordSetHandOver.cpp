// Prepared statements handed from one record set to another on the same connection.

#include "core/Errors.h"
#include "db/RecordSetImpl.h"

namespace patrimonio {

void RecordSet::takeStatementsFrom(RecordSet& other) {
    if (&other == this) return;
    if (other.connection_ != connection_)
        throw AppError(QStringLiteral("The record sets belong to different connections"));
    Impl& to = *impl_;
    Impl& from = *other.impl_;
    // What this one held goes; a packet is keyed by its fields, the same in both.
    to.dropStatements();
    to.statements = std::move(from.statements);
    from.statements.clear();
    to.statementsAttachment = from.statementsAttachment;
    to.packetsRefused = from.packetsRefused;
    to.packetLimits = std::move(from.packetLimits);
    from.packetLimits.clear();
    from.packetsRefused = false;
}

}  // namespace patrimonio
