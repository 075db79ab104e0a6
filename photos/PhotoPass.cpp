#include "photos/PhotoPass.h"

namespace patrimonio {

void PhotoPass::run() {
    // Filled in with the photo-only pass.
    host_.setStatus(QStringLiteral("Aguardando motor de processamento de imagens."));
}

}  // namespace patrimonio
