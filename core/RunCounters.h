#pragma once
// The run counters of the window. Only the window's creation gives them their initial values.

#include <cstdint>

namespace patrimonio {

struct RunCounters {
    std::int32_t Total = 0;        // rows of the current page or batch
    std::int32_t Total_Geral = 0;  // rows of the pages or batches already handled (SKIP offset)
    std::int32_t Erros = 0;        // failed photos
    bool JaMostrouMensagemTerminou = false;
};

}  // namespace patrimonio
