#pragma once
// The rules for the files of a photo, the same for the asset step and the photo-only pass: where
// the photo as stored and the recompressed one are written, the name a photo without an
// extension is given, the names refused because they would leave their folder, and the one way
// a file is written (whole or not at all).

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

// Writes a file whole or not at all: the bytes go to a temporary file in the same folder, every
// write, the flush to disk and the close are checked, and only then is it renamed to its name.
// On any failure the temporary file is removed and a file already under that name is left as it
// was. With Existing::Keep an existing file is never replaced: the write fails as Exists.
struct FileWrite {
    enum class Failure { None, Create, Write, Exists };
    Failure failure = Failure::None;
    QString detail;  // "<path>: <system's reason>" when it failed
    QString reason;  // the system's reason alone
    bool ok() const { return failure == Failure::None; }
};
enum class Existing { Replace, Keep };
FileWrite writeWholeFile(const QString& path, const QByteArray& bytes,
                         Existing existing = Existing::Replace);

// The name a file takes when its own name is taken: " (n)" inserted before the extension
// ("12__foto.jpg" -> "12__foto (2).jpg"), at the end when there is none. n = 1 is the name
// itself.
QString numberedFileName(const QString& path, int n);

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
