#pragma once
// The rules for the files of a photo, the same for the asset step and the photo-only pass: where
// the photo as stored and the recompressed one are written, the name a photo without an
// extension is given, the names refused because they would leave their folder, and the saving
// of an original that never writes over another (files are written whole, core/WholeFile.h).

#include <QByteArray>
#include <QString>

#include "core/WholeFile.h"

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

// Saves the photo as stored without ever replacing an earlier original. A file under the
// before name (or one of its numbered names) holding the same bytes is the photo's backup
// already: nothing is written. Otherwise the photo takes the first free name of the sequence
// path, "path (2)", "path (3)"...
struct BeforeFileSave {
    enum class Outcome { Written, AlreadySaved, Failed };
    Outcome outcome = Outcome::Failed;
    QString path;    // where the photo's backup is (when not Failed)
    QString detail;  // why it failed
    bool ok() const { return outcome != Outcome::Failed; }
};
BeforeFileSave saveBeforeFile(const QString& path, const QByteArray& bytes);

}  // namespace patrimonio
