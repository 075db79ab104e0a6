#pragma once
// Import mode: the purge of the target, then the ten copy steps in their fixed order.

#include "core/RunCounters.h"
#include "core/RunHost.h"
#include "db/DataModule.h"
#include "migration/ImportReport.h"

namespace patrimonio {

struct PlainCopy;

class ImportRun {
public:
    ImportRun(DataModule& data, RunCounters& counters, RunHost& host)
        : data_(data), counters_(counters), host_(host) {}

    // The whole import-mode run: purge, steps, report in the log view, completion message.
    // Raises on an error that ends the run (the report of what was done is still logged).
    void run();

    void SetTrataExclusoes();
    void SetIniciaImportacao();

    // The copy steps, in the order SetIniciaImportacao calls them.
    void SetImport_Responsaveis();
    void SetImport_Gorgaounidade();
    void SetImport_TipoBEM();
    void SetImport_Localizacao();
    void SetImport_SubLocalizacoao();
    void SetImport_Bens();
    void SetImport_Depreciacao_Controle();
    void SetImport_Depreciacao();
    void SetImport_PatReavaliacao();
    void SetImport_PatBaixas();

    const ImportReport& report() const { return report_; }

    // The completion message for a run with this many refused rows.
    static QString completionMessage(int refusedRows);

private:
    void copyPlainTable(const PlainCopy& step);
    Value translatedOrgUnit(int column);
    void logReport();

    DataModule& data_;
    RunCounters& counters_;
    RunHost& host_;
    ImportReport report_;
};

}  // namespace patrimonio
