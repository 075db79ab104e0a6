#pragma once
// The run counters of the window. Only the window's creation gives them their initial values.

#include <cstdint>

namespace patrimonio {

struct RunCounters {
    std::int32_t Total = 0;  // rows of the current page or batch handled so far
    // Rows of the full pages or batches already handled, so where the current one starts in the
    // step's or pass's reading; with Total, the rows read so far. A count only: the rows come
    // from one cursor kept open for the whole step or pass, not from this position.
    std::int32_t Total_Geral = 0;
    std::int32_t Erros = 0;  // failed photos
    bool JaMostrouMensagemTerminou = false;
};

}  // namespace patrimonio
