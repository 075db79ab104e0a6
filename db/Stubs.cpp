// Placeholder definitions until the database layer lands.
#include "core/Errors.h"
#include "db/Connection.h"
#include "db/DataModule.h"
#include "db/RecordSet.h"

namespace patrimonio {

struct Connection::Impl {};
struct RecordSet::Impl {};

Connection::Connection(const QString& name) : name_(name), impl_(std::make_unique<Impl>()) {
    Params = initialParams();
}
Connection::~Connection() = default;
QStringList Connection::initialParams() { return {}; }
QStringList Connection::editParams(const QString&) { return {}; }
bool Connection::Connected() const { return false; }
void Connection::Open() { throw DatabaseError(QStringLiteral("not implemented")); }
int Connection::ExecuteDirect(const QString&) { throw DatabaseError(QStringLiteral("not implemented")); }

RecordSet::RecordSet(Connection& c) : connection_(&c) {}
RecordSet::~RecordSet() = default;

DataModule::DataModule() = default;
std::unique_ptr<RecordSet> DataModule::SqlDinamicoCDS(const QString&, const QString&) { return {}; }

}  // namespace patrimonio
