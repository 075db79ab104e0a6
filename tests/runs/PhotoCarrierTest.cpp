// One photo carried through a run: the files it leaves, what it hands back, and the one choice
// in which the two runs differ (a stored name without an extension).

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "JpegFixtures.h"
#include "QStringPrinter.h"
#include "RecordingHost.h"
#include "TestDatabase.h"
#include "core/AppPaths.h"
#include "runs/PhotoCarrier.h"

namespace patrimonio::test {

namespace {

using Outcome = CarriedPhoto::Outcome;

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

struct CarryCase {
    const char* label;
    const char* name;
    enum class Photo { Jpeg, Empty, NotAJpeg } photo;
    std::optional<int> quality;
    NameWithoutExtension rule;
    Outcome outcome;
    const char* madeName;
    QStringList before;  // files left in the before folder
    QStringList after;   // and in the after folder
};

void PrintTo(const CarryCase& c, std::ostream* os) {
    *os << c.label;
}

class PhotoCarrier : public ::testing::TestWithParam<CarryCase> {
protected:
    void SetUp() override { setExecutableDirForTesting(folder.path()); }
    void TearDown() override { setExecutableDirForTesting({}); }

    TempFolder folder;
    RecordingHost host;
};

TEST_P(PhotoCarrier, LeavesItsFilesAndHandsBackWhatTheRowReceives) {
    const CarryCase& c = GetParam();
    const QByteArray jpeg = makeJpeg({640, 480});
    const QByteArray stored = c.photo == CarryCase::Photo::Jpeg    ? jpeg
                              : c.photo == CarryCase::Photo::Empty ? QByteArray()
                                                                   : QByteArray("GIF89a...");
    patrimonio::PhotoCarrier photos(c.rule, c.quality, 0, host);
    const CarriedPhoto carried =
        photos.carry(QStringLiteral("12"), QString::fromUtf8(c.name), [&] { return stored; });

    EXPECT_EQ(carried.outcome, c.outcome);
    EXPECT_EQ(carried.madeName, QString::fromUtf8(c.madeName));
    EXPECT_EQ(carried.recompressed.has_value(), c.outcome == Outcome::Recompressed);
    EXPECT_EQ(filesIn(beforeFolder()), c.before);
    EXPECT_EQ(filesIn(afterFolder()), c.after);
    // The photo as stored is what the before file holds, whatever became of it.
    if (!c.before.isEmpty()) {
        EXPECT_EQ(readFile(beforeFolder() + c.before[0]), stored);
    }
    if (carried.recompressed) {
        EXPECT_EQ(readFile(afterFolder() + c.after[0]), *carried.recompressed);
        EXPECT_EQ(factsOf(*carried.recompressed).width, 600);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PhotoCarrier,
    ::testing::Values(
        CarryCase{"recompressed",
                  "mesa.jpg",
                  CarryCase::Photo::Jpeg,
                  60,
                  NameWithoutExtension::KeptAsStored,
                  Outcome::Recompressed,
                  "",
                  {"12__mesa.jpg"},
                  {"12 mesa.jpg"}},
        // The two runs' one difference: the asset step keeps such a photo as stored, the
        // photo-only pass makes it a name (its first 40 characters and ".jpg") and goes on.
        CarryCase{"no extension, kept as stored",
                  "mesa",
                  CarryCase::Photo::Jpeg,
                  60,
                  NameWithoutExtension::KeptAsStored,
                  Outcome::NoExtension,
                  "",
                  {"12__mesa"},
                  {}},
        CarryCase{"no extension, given a name",
                  "foto da mesa da sala de reuniões do segundo "
                  "andar",
                  CarryCase::Photo::Jpeg,
                  60,
                  NameWithoutExtension::GivenAName,
                  Outcome::Recompressed,
                  "foto da mesa da sala de reuniões do segu.jpg",
                  {"12__foto da mesa da sala de reuniões do segu.jpg"},
                  {"12 foto da mesa da sala de reuniões do segu.jpg"}},
        CarryCase{"folder separator: nothing written",
                  "../mesa.jpg",
                  CarryCase::Photo::Jpeg,
                  60,
                  NameWithoutExtension::GivenAName,
                  Outcome::FolderSeparator,
                  "",
                  {},
                  {}},
        CarryCase{"nothing stored: an empty before file",
                  "mesa.jpg",
                  CarryCase::Photo::Empty,
                  60,
                  NameWithoutExtension::KeptAsStored,
                  Outcome::NoPhoto,
                  "",
                  {"12__mesa.jpg"},
                  {}},
        CarryCase{"no quality: the original saved all the same",
                  "mesa.jpg",
                  CarryCase::Photo::Jpeg,
                  std::nullopt,
                  NameWithoutExtension::KeptAsStored,
                  Outcome::NoQuality,
                  "",
                  {"12__mesa.jpg"},
                  {}},
        CarryCase{"not a JPEG",
                  "mesa.jpg",
                  CarryCase::Photo::NotAJpeg,
                  60,
                  NameWithoutExtension::GivenAName,
                  Outcome::RecompressionFailed,
                  "",
                  {"12__mesa.jpg"},
                  {}}),
    [](const auto& p) {
        std::string name;
        for (const char* c = p.param.label; *c; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

TEST(PhotoCarrierFiles, ABeforeFileThatCannotBeWrittenLeavesThePhotoUntouched) {
    TempFolder folder;
    setExecutableDirForTesting(folder.path());
    // A file where the before folder should be: nothing can be written into it.
    QFile blocker(folder.path(QStringLiteral("Imagens_Antes")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    RecordingHost host;
    patrimonio::PhotoCarrier photos(NameWithoutExtension::GivenAName, 60, 0, host);
    const QByteArray stored = makeJpeg({64, 48});
    const CarriedPhoto carried =
        photos.carry(QStringLiteral("12"), QStringLiteral("mesa.jpg"), [&] { return stored; });
    EXPECT_EQ(carried.outcome, Outcome::BeforeFileFailed);
    EXPECT_FALSE(carried.detail.isEmpty());
    EXPECT_FALSE(carried.recompressed);
    EXPECT_TRUE(filesIn(afterFolder()).isEmpty());
    setExecutableDirForTesting({});
}

}  // namespace
}  // namespace patrimonio::test
