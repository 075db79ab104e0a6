// The locations, with each organ/unit key translated from the source's numbering to the
// target's through the organ and unit codes both databases share.

#include <optional>

#include "core/Errors.h"
#include "core/Iif.h"
#include "core/StatusConvention.h"
#include "core/Text.h"
#include "db/TableNames.h"
#include "runs/RowCopy.h"
#include "runs/StepContext.h"
#include "runs/WriteBack.h"

namespace patrimonio {

namespace {

const QString kOrgUni = QStringLiteral("CDORGUNI");

// "0" for a blank text, else the number in it. Only a whole number may go into the lookups'
// SQL: a key or code is written there bare, and anything else would be spliced in as SQL. What
// the check lets stand around the number (any white space, a non-breaking space included) is
// what is trimmed off before it goes into the SQL.
QString lookupNumber(const QString& read, const QString& locationKey, const QString& what) {
    const QString text = Iif<QString>(trimmed(read).isEmpty(), QStringLiteral("0"), read);
    if (!isWholeNumber(text)) {
        throw AppError(QStringLiteral("A localização %1 tem %2 \"%3\", que não é um número "
                                      "inteiro; a importação foi interrompida")
                           .arg(locationKey, what, read));
    }
    return text.trimmed();
}

// A lookup that failed, with the location, the SQL and the server's own reason, so that a lost
// connection and a missing table or view read differently. The database error keeps its kind.
[[noreturn]] void lookupFailed(const QString& locationKey, const QString& side, const QString& sql,
                               const DatabaseError& e) {
    throw DatabaseError(QStringLiteral("A consulta do órgão/unidade da localização %1 no %2 "
                                       "falhou: %3\nMensagem do servidor: %4")
                            .arg(locationKey, side, sql, e.message()),
                        e.sqlState(), e.gdsCode(), e.connectionLost());
}

const QString kSourceSide = QStringLiteral("banco com as informações");
const QString kTargetSide = QStringLiteral("banco a ser atualizado");

// The target's organ/unit key for the one in column `column` of the location the step reads.
Value translatedOrgUnit(StepContext& step, int column) {
    RecordSet& source = step.reader;
    RecordSet& aux = step.lookups;
    const QString locationKey = source.Fields(0).AsString();

    aux.Close();
    const QString keyText = lookupNumber(source.Fields(column).AsString(), locationKey,
                                         QStringLiteral("o órgão/unidade"));
    const QString first =
        QStringLiteral("SELECT CDORG, CDUNI FROM VW_GORGAOUNIDADE WHERE  CDORGUNI = ") + keyText;
    aux.setCommandText(first);
    try {
        aux.Open();
    } catch (const DatabaseError& e) {
        lookupFailed(locationKey, kSourceSide, first, e);
    }
    // A key the view does not know reads as blank codes, looked up as organ 0, unit 0.
    const bool found = !aux.Eof();
    const QString organText = lookupNumber(found ? aux.Fields(0).AsString() : QString(),
                                           locationKey, QStringLiteral("o código do órgão"));
    const QString unitText = lookupNumber(found ? aux.Fields(1).AsString() : QString(), locationKey,
                                          QStringLiteral("o código da unidade"));

    const QString sql = QStringLiteral("SELECT O.CDORGUNI FROM GORGAOUNIDADE O WHERE  O.CDORG = ") +
                        organText + QStringLiteral(" ") + QStringLiteral("AND    O.CDUNI = ") +
                        unitText;
    std::optional<DatabaseError> failure;
    const std::unique_ptr<RecordSet> pair = step.targetQuery(sql, &failure);
    if (!pair) {
        if (failure) lookupFailed(locationKey, kTargetSide, sql, *failure);
        throw AppError(QStringLiteral("A consulta do órgão/unidade da localização %1 no banco a "
                                      "ser atualizado falhou: %2")
                           .arg(locationKey, sql));
    }
    // A pair the target does not hold leaves the location without an organ/unit.
    return pair->Eof() ? Value::null() : pair->Fields(0).AsVariant();
}

}  // namespace

void copyLocations(StepContext& step) {
    const StepClock clock(step.report, tables::PAT_LOCALIZACAO);
    openPhase(step.host, QStringLiteral("Importando as localizações."));
    RecordSet& source = step.reader;
    RecordSet& target = step.writer;
    const QString select = QStringLiteral("SELECT * FROM PAT_LOCALIZACAO");
    reopen(source, select);
    reopen(target, select);

    TableTally& tally = step.report.table(tables::PAT_LOCALIZACAO);
    source.First();
    const int n = source.RecordCount();
    tally.read += n;
    for (int j = 0; j < n; ++j) {
        target.Append();
        bool untranslated = false;
        copyRow(
            RecordRow(source), target, tables::PAT_LOCALIZACAO,
            [](int, const QString& name) {
                return name == kOrgUni ? ColumnRule::Own : ColumnRule::Copied;
            },
            [&](int column) {
                const Value key = translatedOrgUnit(step, column);
                untranslated = untranslated || key.isNull();
                return key;
            });
        target.Post();
        // Counted only for a location the target accepted.
        if (writeBack(target, step.host, tally) == 0 && untranslated)
            ++step.report.untranslatedLocations;
        step.host.rowsDone(1);
        step.stopPointAfterWriteBack(tally);
        source.Next();
    }
    closePhase(step.host);
}

}  // namespace patrimonio
