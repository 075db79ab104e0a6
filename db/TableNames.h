#pragma once
// The tables, the view and the PAT_BEM columns of the asset register that the program names.

#include <QString>

namespace patrimonio::tables {

inline const QString PAT_BAIXA = QStringLiteral("PAT_BAIXA");
inline const QString PAT_TRANSFERENCIA = QStringLiteral("PAT_TRANSFERENCIA");
inline const QString PAT_REAVALIACAO = QStringLiteral("PAT_REAVALIACAO");
inline const QString PAT_DEPRECIACAO = QStringLiteral("PAT_DEPRECIACAO");
inline const QString PAT_DEPRECIACAO_ANUAL = QStringLiteral("PAT_DEPRECIACAO_ANUAL");
inline const QString PAT_BEM = QStringLiteral("PAT_BEM");
inline const QString PAT_BEM_VALOR = QStringLiteral("PAT_BEM_VALOR");
inline const QString PAT_SUBLOCALIZACAO = QStringLiteral("PAT_SUBLOCALIZACAO");
inline const QString PAT_LOCALIZACAO = QStringLiteral("PAT_LOCALIZACAO");
inline const QString PAT_RESPONSAVEL = QStringLiteral("PAT_RESPONSAVEL");
inline const QString PAT_TIPOBEM = QStringLiteral("PAT_TIPOBEM");
inline const QString PAT_DEPRECIACAO_CONTROLE = QStringLiteral("PAT_DEPRECIACAO_CONTROLE");
inline const QString GORGAOUNIDADE = QStringLiteral("GORGAOUNIDADE");
inline const QString VW_GORGAOUNIDADE = QStringLiteral("VW_GORGAOUNIDADE");

}  // namespace patrimonio::tables

// The PAT_BEM columns both runs name: the photo, its name, the asset code, and the asset-value
// reference the copies leave out.
namespace patrimonio::columns {

inline const QString BEM_IMAGEM = QStringLiteral("BEM_IMAGEM");
inline const QString BEM_IMAGEM_NOME = QStringLiteral("BEM_IMAGEM_NOME");
inline const QString BEM_CODIGO = QStringLiteral("BEM_CODIGO");
inline const QString BV_CODIGO = QStringLiteral("BV_CODIGO");

}  // namespace patrimonio::columns
