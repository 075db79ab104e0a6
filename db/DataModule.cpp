#include "db/DataModule.h"

#include "core/Errors.h"
#include "core/Text.h"

namespace patrimonio {

DataModule::DataModule() = default;

std::unique_ptr<RecordSet> DataModule::SqlDinamicoCDS(const QString& Sql, const QString& Op,
                                                      std::optional<DatabaseError>* failure) {
    const QString op = Op.toUpper();
    auto cds = std::make_unique<RecordSet>(Con_Velho);
    cds->setCommandText(Sql);
    if (trimmed(Sql).isEmpty()) return cds;
    try {
        if (op == QStringLiteral("O")) {
            cds->Open();
        } else if (op == QStringLiteral("E")) {
            Con_Velho.ExecuteDirect(Sql);
        }
    } catch (const DatabaseError& e) {
        if (failure) *failure = e;
        return nullptr;
    } catch (const AppError&) {
        return nullptr;
    }
    return cds;
}

}  // namespace patrimonio
