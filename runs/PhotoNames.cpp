#include "runs/PhotoNames.h"

#include "core/AppPaths.h"
#include "core/Text.h"
#include "photos/PhotoFiles.h"

namespace patrimonio {

PhotoNames photoNamesOf(const QString& code, const QString& name, NameWithoutExtension rule) {
    PhotoNames names;
    names.fileName = name;
    if (rule == NameWithoutExtension::GivenAName && extensionOf(name).isEmpty()) {
        names.madeName = newImageName(name);
        if (!trimmed(names.madeName).isEmpty()) names.fileName = names.madeName;
    }
    // A name holding a folder separator would write the files outside their folders.
    names.leavesFolder = containsFolderSeparator(names.fileName);
    if (!names.leavesFolder) names.before = beforeFile(code, names.fileName);
    return names;
}

}  // namespace patrimonio
