#include "runs/ImportRun.h"

#include "core/Errors.h"
#include "db/TableNames.h"
#include "runs/PlainCopy.h"
#include "runs/RunPlan.h"

namespace patrimonio {

QString ImportRun::completionMessage(int refusedRows, const QStringList& warnings) {
    QString text = QStringLiteral("Importação concluída.");
    if (refusedRows == 1) {
        text += QStringLiteral(
            "\n1 registro foi recusado pelo banco de destino e está listado no log.");
    } else if (refusedRows > 1) {
        text += QStringLiteral(
                    "\n%1 registros foram recusados pelo banco de destino e estão listados no log.")
                    .arg(refusedRows);
    }
    for (const QString& warning : warnings) text += u'\n' + warning;
    return text;
}

ImportEnd ImportRun::run() {
    runClock_.start();
    report_ = ImportReport{};
    reportLogged_ = false;
    copy_.reset();
    restore_.clear();
    rowsAtCopy_.clear();
    purgeBegun_ = false;
    // What the operator types during the run changes nothing in it.
    quality_ = host_.qualityText();
    // Nothing is deleted before both databases are known to hold what the run needs, nor
    // before the target is saved whole.
    checkBeforePurge();
    QElapsedTimer copy;
    copy.start();
    saveTargetCopy();
    report_.copyMs = copy.elapsed();
    // What the run will do, for the whole run's progress: counted without reading a photo.
    host_.planned(planImport(steps_.source).work());
    try {
        QElapsedTimer purge;
        purge.start();
        SetTrataExclusoes();
        report_.purgeMs = purge.elapsed();
        SetIniciaImportacao();
        checkTarget();
        steps_.stopPoint(QStringLiteral("depois da última etapa: a importação foi até o fim"));
    } catch (const RunStopped& stopped) {
        // What was copied before the stop, the way back, and where it stopped.
        logReport(Ending::Stopped, stopped.message());
        return ImportEnd::Stopped;
    } catch (...) {
        // What was copied before the error stays in the target; the operator sees how much,
        // and where the way back is.
        logReport(Ending::Failed);
        throw;
    }
    logReport(Ending::Completed);
    return ImportEnd::Completed;
}

void ImportRun::logReport(Ending ending, const QString& closing) {
    if (runClock_.isValid()) report_.totalMs = runClock_.elapsed();
    const bool wayBack = ending != Ending::Completed && copy_;
    if (report_.tables().empty() && closing.isEmpty() && !wayBack) return;
    if (!report_.tables().empty()) {
        for (const QString& line : report_.lines()) host_.appendLogLine(line);
    }
    // A run that did not complete says again where the way back is, before where it stopped.
    if (wayBack) logTargetCopy();
    if (!closing.isEmpty()) host_.appendLogLine(closing);
    // The report ends its last line: what the log receives next (the codes of a photo pass)
    // starts on a line of its own.
    host_.appendLogLine(QString());
    reportLogged_ = true;
}

std::optional<WayBack> ImportRun::wayBack() const {
    if (!purgeBegun_ || !copy_) return std::nullopt;
    return WayBack{*copy_, rowsAtCopy_, restore_};
}

const QString& ImportRun::quality() {
    if (!quality_) quality_ = host_.qualityText();
    return *quality_;
}

void ImportRun::SetIniciaImportacao() {
    SetImport_Responsaveis();
    SetImport_Gorgaounidade();
    steps_.stopPoint(QStringLiteral("em GORGAOUNIDADE, depois das duas linhas de reserva"));
    SetImport_TipoBEM();
    SetImport_Localizacao();
    SetImport_SubLocalizacoao();
    SetImport_Bens();
    SetImport_Depreciacao_Controle();
    SetImport_Depreciacao();
    SetImport_PatReavaliacao();
    SetImport_PatBaixas();
}

namespace {

const PlainCopy& plainCopyOf(const QString& table) {
    if (const PlainCopy* copy = findPlainCopy(table)) return *copy;
    throw AppError(QStringLiteral("No plain copy of ") + table);
}

}  // namespace

void ImportRun::SetTrataExclusoes() {
    purgeTarget(steps_, purgeBegun_);
}
void ImportRun::SetImport_Responsaveis() {
    copyPlainTable(steps_, plainCopyOf(tables::PAT_RESPONSAVEL));
}
void ImportRun::SetImport_Gorgaounidade() {
    addReserveRows(steps_);
}
void ImportRun::SetImport_TipoBEM() {
    copyPlainTable(steps_, plainCopyOf(tables::PAT_TIPOBEM));
}
void ImportRun::SetImport_Localizacao() {
    copyLocations(steps_);
}
void ImportRun::SetImport_SubLocalizacoao() {
    copyPlainTable(steps_, plainCopyOf(tables::PAT_SUBLOCALIZACAO));
}
void ImportRun::SetImport_Bens() {
    // Read before the first photo: what is typed during the step changes nothing in it.
    copyAssets(steps_, quality(), photoWorkers_, counters_);
}
void ImportRun::SetImport_Depreciacao_Controle() {
    copyPlainTable(steps_, plainCopyOf(tables::PAT_DEPRECIACAO_CONTROLE));
}
void ImportRun::SetImport_Depreciacao() {
    copyPlainTable(steps_, plainCopyOf(tables::PAT_DEPRECIACAO));
}
void ImportRun::SetImport_PatReavaliacao() {
    copyPlainTable(steps_, plainCopyOf(tables::PAT_REAVALIACAO));
}
void ImportRun::SetImport_PatBaixas() {
    copyPlainTable(steps_, plainCopyOf(tables::PAT_BAIXA));
}
void ImportRun::checkTarget() {
    checkTargetRows(steps_);
}

}  // namespace patrimonio
