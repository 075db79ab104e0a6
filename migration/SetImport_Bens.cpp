// The asset step: PAT_BEM with its photos recompressed.

#include "migration/ImportRun.h"

namespace patrimonio {

void ImportRun::SetImport_Bens() {}

}  // namespace patrimonio
