#pragma once
// The photo-only pass over PAT_BEM of the database reached through Con_Novo.

#include "core/RunCounters.h"
#include "core/RunHost.h"
#include "db/DataModule.h"

namespace patrimonio {

class PhotoPass {
public:
    PhotoPass(DataModule& data, RunCounters& counters, RunHost& host)
        : data_(data), counters_(counters), host_(host) {}

    // One whole pass, from the start check to the summary. Raises on an error that ends it.
    void run();

private:
    DataModule& data_;
    RunCounters& counters_;
    RunHost& host_;
};

}  // namespace patrimonio
