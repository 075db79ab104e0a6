#pragma once
// Import mode: the purge of the target, then the ten copy steps in their fixed order.

#include "core/RunCounters.h"
#include "core/RunHost.h"
#include "db/DataModule.h"

namespace patrimonio {

class ImportRun {
public:
    ImportRun(DataModule& data, RunCounters& counters, RunHost& host)
        : data_(data), counters_(counters), host_(host) {}

    // The whole import-mode run: purge, steps, completion message. Raises on an error that
    // ends the run.
    void run();

    void SetTrataExclusoes();
    void SetIniciaImportacao();

private:
    DataModule& data_;
    RunCounters& counters_;
    RunHost& host_;
};

}  // namespace patrimonio
