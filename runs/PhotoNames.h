#pragma once
// The names a stored photo's files take, and the one rule in which the two runs name them
// differently: a stored name without an extension.

#include <QString>

namespace patrimonio {

// A stored photo name without an extension: the two runs differ here.
enum class NameWithoutExtension {
    KeptAsStored,  // no recompression: the photo stays as stored (asset step)
    GivenAName,    // a name is made for it and recompression goes on (photo-only pass)
};

// The names a photo's files take, found before anything is written.
struct PhotoNames {
    QString fileName;           // the photo name the files are named with
    QString madeName;           // the name made for a photo without an extension, else empty
    bool leavesFolder = false;  // the name holds a folder separator: nothing may be written
    QString before;             // the before file (empty when leavesFolder)
};
PhotoNames photoNamesOf(const QString& code, const QString& name, NameWithoutExtension rule);

}  // namespace patrimonio
