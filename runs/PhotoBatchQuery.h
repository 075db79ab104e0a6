#pragma once
// The SELECT of one batch of the photo-only pass and the check of the codes to skip.

#include <QString>

namespace patrimonio {

constexpr int kPhotoBatchSize = 50;

// True when the text is empty or blank, or a comma-separated list of whole numbers with blanks
// allowed around each of them (" 9, 30 "). The text goes into the SQL as typed, so nothing else
// may pass: no empty item, no letters, no quotes, no other separators.
bool isValidSkipList(const QString& skipList);

// "WHERE BEM_CODIGO NOT IN (<text as typed>)", or empty when the text is blank.
// The text must have passed isValidSkipList.
QString skipFilter(const QString& skipList);

// The batch at the offset, in BEM_CODIGO order so that paging neither repeats nor skips a row.
QString batchQuery(int offset, const QString& skipList);

}  // namespace patrimonio
