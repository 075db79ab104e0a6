#pragma once

namespace patrimonio {

// A copy of Verdadeiro when Condicao holds, else a copy of Falso; both already computed.
template <typename T>
T Iif(bool Condicao, const T& Verdadeiro, const T& Falso) {
    return Condicao ? Verdadeiro : Falso;
}

}  // namespace patrimonio
