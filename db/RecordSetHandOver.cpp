// Prepared statements handed from one record set to another on the same connection.

#include "core/Errors.h"
#include "db/RecordSetImpl.h"

namespace patrimonio {

void RecordSet::takeStatementsFrom(RecordSet& other) {
    if (&other == this) return;
    if (other.connection_ != connection_)
        throw AppError(QStringLiteral("The record sets belong to different connections"));
    // What this one held goes; a packet is keyed by its fields, the same in both.
    impl_->sender.takeStatementsFrom(other.impl_->sender);
}

}  // namespace patrimonio
