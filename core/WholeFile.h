#pragma once
// The one way the program writes a file: whole or not at all. The bytes go to a temporary file
// in the same folder; every write, the flush to disk and the close are checked, and only then is
// the file renamed to its name. On any failure the temporary file is removed and a file already
// under that name is left as it was. With Existing::Keep an existing file is never replaced.

#include <QByteArray>
#include <QString>
#include <memory>

class QTemporaryFile;

namespace patrimonio {

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

// The same, for a file that arrives in pieces and may be larger than memory: open, append, then
// commit (or drop it, which the destructor also does).
class WholeFileWriter {
public:
    explicit WholeFileWriter(const QString& path);
    ~WholeFileWriter();
    WholeFileWriter(const WholeFileWriter&) = delete;
    WholeFileWriter& operator=(const WholeFileWriter&) = delete;

    // The temporary file in the target's folder; fails as Create.
    FileWrite open();
    // Appends; fails as Write (a full disk, a failing one).
    FileWrite append(const char* bytes, qint64 size);
    qint64 written() const { return written_; }
    // The temporary file's name, for another program that writes the bytes itself (a server
    // writing a backup); empty before open().
    QString temporaryName() const;
    // Takes what another program wrote into the temporary file as appended; fails as Write when
    // it wrote nothing.
    FileWrite adoptWrittenByOther();
    // Flushes, syncs, closes, checks that the file holds every byte appended, and renames it to
    // its name.
    FileWrite commit(Existing existing);
    // The same, but when the name is taken the file takes the first free numbered name
    // ("copia (2).fbk"...), never replacing one; path() then says which.
    FileWrite commitUnderFreeName();
    const QString& path() const { return path_; }

private:
    FileWrite failed(FileWrite::Failure failure, const QString& reason) const;
    // Flush, sync, close and the size check, once.
    FileWrite finish();
    FileWrite renameTo(const QString& path, Existing existing);

    QString path_;
    std::unique_ptr<QTemporaryFile> temporary_;
    QString temporaryName_;
    qint64 written_ = 0;
    bool finished_ = false;
};

// The name a file takes when its own name is taken: " (n)" inserted before the extension
// ("12__foto.jpg" -> "12__foto (2).jpg"), at the end when there is none. n = 1 is the name
// itself.
QString numberedFileName(const QString& path, int n);

}  // namespace patrimonio
