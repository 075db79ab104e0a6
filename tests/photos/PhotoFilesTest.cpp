// The rules for a photo's files on a real file system: whole files or none, originals never
// written over, and a disk with no space left.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "FullFolder.h"
#include "JpegFixtures.h"
#include "QStringPrinter.h"
#include "TestDatabase.h"
#include "core/Errors.h"
#include "photos/JpegRecompressor.h"
#include "photos/PhotoFiles.h"

namespace patrimonio {
namespace {

QByteArray bytesOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList namesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

TEST(PhotoFileNames, NumberedNamesGoBeforeTheExtension) {
    struct Case {
        const char* path;
        int n;
        const char* expected;
    };
    const Case cases[] = {
        {"/f/12__foto.jpg", 1, "/f/12__foto.jpg"},
        {"/f/12__foto.jpg", 2, "/f/12__foto (2).jpg"},
        {"/f/12__foto.jpg", 13, "/f/12__foto (13).jpg"},
        {"/f/12__FOTO001", 2, "/f/12__FOTO001 (2)"},        // no extension: at the end
        {"/f.antes/12__foto", 3, "/f.antes/12__foto (3)"},  // a dot in a folder is not one
        {"/f/12__.jpg", 2, "/f/12__ (2).jpg"},
        {"/f/12__foto.tar.gz", 2, "/f/12__foto.tar (2).gz"},
        {"/f/12__foto.", 2, "/f/12__foto (2)."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(numberedFileName(QString::fromUtf8(c.path), c.n), QString::fromUtf8(c.expected));
    }
}

class PhotoFiles : public ::testing::Test {
protected:
    test::TempFolder folder;
    QString at(const QString& name) const { return folder.path(name); }
};

TEST_F(PhotoFiles, AnOriginalIsNeverWrittenOver) {
    const QString base = at(QStringLiteral("12__foto.jpg"));
    const QByteArray original("original"), second("segunda geração"), third("terceira");
    struct Step {
        QByteArray bytes;
        BeforeFileSave::Outcome outcome;
        const char* name;
    };
    using O = BeforeFileSave::Outcome;
    const Step steps[] = {
        {original, O::Written, "12__foto.jpg"},
        {original, O::AlreadySaved, "12__foto.jpg"},  // the same photo again: nothing written
        {second, O::Written, "12__foto (2).jpg"},
        {second, O::AlreadySaved, "12__foto (2).jpg"},
        {third, O::Written, "12__foto (3).jpg"},
        {original, O::AlreadySaved, "12__foto.jpg"},
    };
    for (const Step& s : steps) {
        const BeforeFileSave saved = saveBeforeFile(base, s.bytes);
        EXPECT_EQ(saved.outcome, s.outcome) << s.name;
        EXPECT_EQ(saved.path, at(QString::fromUtf8(s.name)));
    }
    EXPECT_EQ(namesIn(folder.path()),
              (QStringList{"12__foto (2).jpg", "12__foto (3).jpg", "12__foto.jpg"}));
    EXPECT_EQ(bytesOf(base), original);
    EXPECT_EQ(bytesOf(at(QStringLiteral("12__foto (2).jpg"))), second);
    EXPECT_EQ(bytesOf(at(QStringLiteral("12__foto (3).jpg"))), third);
}

TEST_F(PhotoFiles, WhatHoldsANameIsPassedOver) {
    // A folder, a link to nowhere and a file of the same size but other bytes hold three names.
    const QString base = at(QStringLiteral("7__FOTO"));
    ASSERT_TRUE(QDir().mkpath(base));
    ASSERT_TRUE(QFile::link(at(QStringLiteral("nowhere")), at(QStringLiteral("7__FOTO (2)"))));
    test::writeFile(at(QStringLiteral("7__FOTO (3)")), QByteArray("abcd"));
    const BeforeFileSave saved = saveBeforeFile(base, QByteArray("wxyz"));
    EXPECT_EQ(saved.outcome, BeforeFileSave::Outcome::Written);
    EXPECT_EQ(saved.path, at(QStringLiteral("7__FOTO (4)")));
    EXPECT_EQ(bytesOf(saved.path), QByteArray("wxyz"));
    EXPECT_EQ(bytesOf(at(QStringLiteral("7__FOTO (3)"))), QByteArray("abcd"));
    EXPECT_FALSE(QFile::exists(at(QStringLiteral("nowhere"))));
}

TEST_F(PhotoFiles, AWholeFileReplacesOrKeepsAsAsked) {
    const QString path = at(QStringLiteral("1 foto.jpg"));
    test::writeFile(path, QByteArray(5000, 'x'));
    const FileWrite kept = writeWholeFile(path, QByteArray("novo"), Existing::Keep);
    EXPECT_EQ(kept.failure, FileWrite::Failure::Exists);
    EXPECT_EQ(bytesOf(path), QByteArray(5000, 'x'));
    EXPECT_TRUE(writeWholeFile(path, QByteArray("novo")).ok());
    EXPECT_EQ(bytesOf(path), QByteArray("novo"));
    EXPECT_EQ(namesIn(folder.path()), QStringList{"1 foto.jpg"}) << "no temporary file left";

    const FileWrite missing = writeWholeFile(at(QStringLiteral("sem pasta/1.jpg")), "x");
    EXPECT_EQ(missing.failure, FileWrite::Failure::Create);
    EXPECT_TRUE(missing.detail.startsWith(at(QStringLiteral("sem pasta/1.jpg")) + u':'));
}

TEST_F(PhotoFiles, OnAFullDiskNothingIsWrittenAndNothingReplaced) {
    const QString full = at(QStringLiteral("cheio"));
    test::FullFolder disk(full, {{QStringLiteral("1 foto.jpg"), QByteArray("depois antigo")}});
    if (!disk.mounted()) GTEST_SKIP() << disk.whyNot().toStdString();
    const QByteArray photo(20000, 'p');

    const FileWrite replaced = writeWholeFile(full + QStringLiteral("/1 foto.jpg"), photo);
    EXPECT_EQ(replaced.failure, FileWrite::Failure::Write);
    EXPECT_EQ(bytesOf(full + QStringLiteral("/1 foto.jpg")), QByteArray("depois antigo"));

    const BeforeFileSave saved = saveBeforeFile(full + QStringLiteral("/1__foto.jpg"), photo);
    EXPECT_FALSE(saved.ok());
    EXPECT_TRUE(saved.detail.contains(QStringLiteral("1__foto.jpg"))) << saved.detail.toStdString();
    EXPECT_EQ(disk.entries(), QStringList{"1 foto.jpg"}) << "no partial or temporary file";
}

TEST_F(PhotoFiles, RecompressionFromMemoryEqualsTheOneFromTheFile) {
    const QByteArray jpeg = test::makeJpeg({640, 480});
    const QString before = at(QStringLiteral("1__foto.jpg"));
    test::writeFile(before, jpeg);
    const std::optional<QByteArray> fromFile =
        SetJPGCompression(60, before, at(QStringLiteral("a.jpg")));
    ASSERT_TRUE(fromFile.has_value());
    // The before name is only looked at for its extension: no such file need exist.
    const QString notWritten = at(QStringLiteral("2__foto.jpg"));
    const std::optional<QByteArray> fromMemory =
        recompressPhoto(60, jpeg, notWritten, at(QStringLiteral("b.jpg")));
    ASSERT_TRUE(fromMemory.has_value());
    EXPECT_EQ(*fromMemory, *fromFile);
    EXPECT_EQ(bytesOf(at(QStringLiteral("b.jpg"))), *fromMemory);
    EXPECT_FALSE(QFile::exists(notWritten));
    EXPECT_EQ(recompressPhoto(60, jpeg, at(QStringLiteral("2__FOTO")), at(QStringLiteral("c.jpg"))),
              std::nullopt);
    EXPECT_FALSE(QFile::exists(at(QStringLiteral("c.jpg"))));
    EXPECT_EQ(recompressJpeg(60, jpeg, notWritten), fromMemory);
}

TEST_F(PhotoFiles, AnAfterFileOnAFullDiskFailsAndKeepsTheOldOne) {
    const QString full = at(QStringLiteral("cheio"));
    test::FullFolder disk(full, {{QStringLiteral("1 foto.jpg"), QByteArray("depois antigo")}});
    if (!disk.mounted()) GTEST_SKIP() << disk.whyNot().toStdString();
    const QByteArray jpeg = test::makeJpeg({640, 480});
    EXPECT_THROW(recompressPhoto(60, jpeg, at(QStringLiteral("1__foto.jpg")),
                                 full + QStringLiteral("/1 foto.jpg")),
                 AppError);
    EXPECT_EQ(bytesOf(full + QStringLiteral("/1 foto.jpg")), QByteArray("depois antigo"));
    EXPECT_EQ(disk.entries(), QStringList{"1 foto.jpg"});
}

}  // namespace
}  // namespace patrimonio
