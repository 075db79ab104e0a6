#pragma once
// The rules for the files of a photo, the same for the asset step and the photo-only pass: where
// the photo as stored and the recompressed one are written, the name a photo without an
// extension is given, the names refused because they would leave their folder, and the one way
// a photo file is written.

#include <QByteArray>
#include <QString>

namespace patrimonio {

// The photo as stored: <exe>/Imagens_Antes/<code>__<name>.
QString beforeFile(const QString& code, const QString& name);
// The recompressed photo: <exe>/Imagens_Depois/<code> <name>.
QString afterFile(const QString& code, const QString& name);

// The name a stored photo name without an extension is given: its first 40 characters and
// ".jpg".
QString newImageName(const QString& name);

// True when the name holds a folder separator ('/' or '\\'): as part of a file name it would
// put the file in another folder.
bool containsFolderSeparator(const QString& name);

// Writes the file whole: created or emptied, every byte written, flushed and closed.
struct FileWrite {
    enum class Failure { None, Create, Write };
    Failure failure = Failure::None;
    QString detail;  // "<path>: <system's reason>" when it failed
    bool ok() const { return failure == Failure::None; }
};
FileWrite writeWholeFile(const QString& path, const QByteArray& bytes);

}  // namespace patrimonio
