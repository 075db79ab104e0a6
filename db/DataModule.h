#pragma once
// The connections and record-set chains the window owns for the program's whole life.

#include <memory>
#include <optional>

#include "core/Errors.h"
#include "db/Connection.h"
#include "db/RecordSet.h"

namespace patrimonio {

class DataModule {
public:
    DataModule();

    Connection Con_Novo{QStringLiteral("Con_Novo")};
    Connection Con_Velho{QStringLiteral("Con_Velho")};

    RecordSet CdsNovo{Con_Novo};
    RecordSet CdsAux{Con_Novo};
    RecordSet CdsAtualiza{Con_Velho};

    // A throw-away record set on the target side: "O" opens Sql, "E" runs it as a statement;
    // blank Sql gives an unopened record set; any failure gives none, and the database's error
    // in `failure` when one is given. The caller owns it.
    std::unique_ptr<RecordSet> SqlDinamicoCDS(const QString& Sql, const QString& Op,
                                              std::optional<DatabaseError>* failure = nullptr);
};

}  // namespace patrimonio
