#pragma once
// A folder on a file system with no space left: a small tmpfs mounted on it and filled to the
// last byte, so that a write there fails the way it fails on a full disk. Needs the right to
// mount (root, as CI runs); a test skips itself when mounted() is false, with whyNot().

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

namespace patrimonio::test {

class FullFolder {
public:
    // Creates the folder when missing, mounts a tmpfs of `megabytes` on it, writes the files
    // given (name, bytes) and fills the rest.
    explicit FullFolder(const QString& path, const QMap<QString, QByteArray>& files = {},
                        int megabytes = 1);
    // Unmounts it: what was written there (nothing, when the code under test is right) goes.
    ~FullFolder();
    FullFolder(const FullFolder&) = delete;
    FullFolder& operator=(const FullFolder&) = delete;

    bool mounted() const { return mounted_; }
    QString whyNot() const { return whyNot_; }
    // The names in the folder besides the filler.
    QStringList entries() const;

private:
    QString path_;
    bool mounted_ = false;
    QString whyNot_;
};

}  // namespace patrimonio::test
