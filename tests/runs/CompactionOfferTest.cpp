// The question at the end of a photo-only pass that ran to its end, and what each answer does,
// against real database files opened by their bare path (as the window does in photo-only
// mode) and real JPEG photos.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <memory>

#include "FullFolder.h"
#include "JpegFixtures.h"
#include "QStringPrinter.h"
#include "RecordingHost.h"
#include "TestDatabase.h"
#include "core/AppPaths.h"
#include "db/DataModule.h"
#include "runs/CompactionOffer.h"
#include "runs/PhotoPass.h"
#include "runs/RunSession.h"

namespace patrimonio {
namespace {

using test::RecordingHost;

const QByteArray kSchema =
    "CREATE TABLE PAT_BEM (BEM_CODIGO INTEGER NOT NULL PRIMARY KEY, BEM_DESCRICAO VARCHAR(60), "
    "BEM_IMAGEM BLOB SUB_TYPE 0, BEM_IMAGEM_NOME VARCHAR(100));\n";

// Large camera-like photos, which the pass makes many times smaller.
void fillWithPhotos(const QString& path, int rows) {
    DataModule data;
    data.Con_Novo.Params = Connection::editParams(path);
    data.Con_Novo.Open();
    RecordSet& cds = data.CdsAux;
    cds.setCommandText(QStringLiteral(
        "SELECT BEM_CODIGO, BEM_DESCRICAO, BEM_IMAGEM, BEM_IMAGEM_NOME FROM PAT_BEM"));
    cds.Open();
    for (int code = 1; code <= rows; ++code) {
        test::JpegShape shape;
        shape.width = 1600 + code;
        shape.height = 1200;
        shape.quality = 97;
        cds.Append();
        cds.Fields(0).setAsVariant(Value::integer(code));
        cds.Fields(1).setAsString(QStringLiteral("Bem %1").arg(code));
        cds.Fields(2).setAsVariant(Value::binary(test::makeJpeg(shape)));
        cds.Fields(3).setAsString(QStringLiteral("foto%1.jpg").arg(code));
        cds.Post();
    }
    ASSERT_EQ(cds.ApplyUpdates(0), 0);
    cds.Close();
    data.Con_Novo.Close();
}

// Every row as the connection reads it: code, name and the photo's bytes.
QStringList rowsOf(Connection& con) {
    RecordSet rs(con);
    rs.setCommandText(QStringLiteral(
        "SELECT BEM_CODIGO, BEM_IMAGEM_NOME, BEM_IMAGEM FROM PAT_BEM ORDER BY BEM_CODIGO"));
    rs.Open();
    QStringList rows;
    for (; !rs.Eof(); rs.Next()) {
        rows << rs.Fields(0).AsString() + u'|' + rs.Fields(1).AsString() + u'|' +
                    QString::fromLatin1(rs.Fields(2).AsVariant().bytes().toHex());
    }
    return rows;
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

class CompactionOffer : public ::testing::Test {
protected:
    void SetUp() override {
        setExecutableDirForTesting(tmp.path(QStringLiteral("exe")));
        QDir().mkpath(tmp.path(QStringLiteral("exe")));
        tmp.folder(QStringLiteral("dados"));
        path = test::createDatabase(tmp.path(QStringLiteral("dados/fotos.fdb")), kSchema);
        fillWithPhotos(path, 8);
    }
    void TearDown() override { setExecutableDirForTesting({}); }

    // A whole photo-only run as the window starts it; the question is answered `sim`, and
    // what the database held and its size at that moment are noted.
    void runPass(bool sim) {
        host.answer = [this, sim](const QString&) {
            bytesAtQuestion = QFileInfo(path).size();
            rowsAtQuestion = rowsOf(session.data().Con_Novo);
            return sim;
        };
        RunOutcome outcome;
        session.run(true, QString(), path, host, 1, outcome);
        ASSERT_EQ(outcome.passEnd, PhotoPassEnd::Finished);
    }
    QStringList compactionLines() const {
        QStringList lines;
        for (const QString& line : host.eventsWith(QStringLiteral("log:"))) {
            // The pass's own last line says why a file needs compacting; it is not one of these.
            if (line.startsWith(QStringLiteral("Fotos gravadas:"))) continue;
            // Nor is the run's first line, which says where its files go.
            if (line.startsWith(QStringLiteral("Arquivos desta execução em "))) continue;
            if (line.contains(QStringLiteral("compacta")) ||
                line.contains(QStringLiteral("Bancos_Antes"))) {
                lines << line;
            }
        }
        return lines;
    }

    test::TempFolder tmp;
    QString path;
    RunSession session;
    RecordingHost host;
    qint64 bytesAtQuestion = 0;
    QStringList rowsAtQuestion;
};

}  // namespace

TEST_F(CompactionOffer, SimAfterAPassLeavesASmallerFileWithEveryRowAndTheOldOneKept) {
    runPass(true);
    if (HasFatalFailure()) return;

    // Asked once, after the summary, with the sizes the operator decides on.
    const QStringList asked = host.eventsWith(QStringLiteral("ask:"));
    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(asked[0].contains(QStringLiteral("Compactar o arquivo do banco de dados agora?")));
    EXPECT_LT(host.events.indexOf(QStringLiteral("message:") + photoPassSummary(8, 0)),
              host.events.indexOf(QStringLiteral("ask:") + asked[0]));

    // Con_Novo is back on the same database, which holds what the pass wrote, byte for byte.
    Connection& con = session.data().Con_Novo;
    ASSERT_TRUE(con.Connected());
    EXPECT_EQ(con.databaseString(), path);
    EXPECT_EQ(rowsOf(con), rowsAtQuestion);
    const qint64 bytesAfter = QFileInfo(path).size();
    EXPECT_LT(bytesAfter * 2, bytesAtQuestion);
    // The size the question gave, within a quarter of the size reached.
    const QRegularExpressionMatch said =
        QRegularExpression(QStringLiteral("terá cerca de ([0-9]+(?:,[0-9])?) (KB|MB)"))
            .match(asked[0]);
    ASSERT_TRUE(said.hasMatch()) << asked[0].toStdString();
    const double saidBytes = QString(said.captured(1)).replace(u',', u'.').toDouble() *
                             (said.captured(2) == QStringLiteral("KB") ? 1024.0 : 1048576.0);
    EXPECT_NEAR(saidBytes, static_cast<double>(bytesAfter), 0.25 * static_cast<double>(bytesAfter))
        << asked[0].toStdString() << " / " << bytesAfter;

    // The old file, whole, in Bancos_Antes/; the log says where and the sizes.
    const QStringList kept = filesIn(databaseCopiesFolder());
    ASSERT_EQ(kept.size(), 1);
    const QString keptPath = databaseCopiesFolder() + kept[0];
    EXPECT_TRUE(kept[0].startsWith(QStringLiteral("fotos_"))) << kept[0].toStdString();
    EXPECT_EQ(QFileInfo(keptPath).size(), bytesAtQuestion);
    const QStringList lines = compactionLines();
    ASSERT_EQ(lines.size(), 2) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(lines[0].contains(QStringLiteral("compactado"))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].contains(QDir::toNativeSeparators(keptPath))) << lines[1].toStdString();
    con.Close();
    EXPECT_EQ(test::databaseContents(keptPath), test::databaseContents(path));
    EXPECT_EQ(filesIn(tmp.path(QStringLiteral("dados"))), QStringList{QStringLiteral("fotos.fdb")});
}

TEST_F(CompactionOffer, APassThatWroteNoPhotoAsksNothing) {
    test::runIsql("UPDATE PAT_BEM SET BEM_IMAGEM = NULL;\ncommit;\n", path);
    RunOutcome outcome;
    session.run(true, QString(), path, host, 1, outcome);
    ASSERT_EQ(outcome.passEnd, PhotoPassEnd::Finished);
    EXPECT_TRUE(host.eventsWith(QStringLiteral("ask:")).isEmpty());
    const QString log = host.eventsWith(QStringLiteral("log:")).join(u'\n');
    EXPECT_FALSE(log.contains(QStringLiteral("menores"))) << log.toStdString();
    EXPECT_FALSE(QFileInfo::exists(databaseCopiesFolder()));
}

TEST_F(CompactionOffer, NaoChangesNothing) {
    runPass(false);
    if (HasFatalFailure()) return;
    EXPECT_EQ(host.eventsWith(QStringLiteral("ask:")).size(), 1);
    EXPECT_EQ(QFileInfo(path).size(), bytesAtQuestion);
    EXPECT_FALSE(QFileInfo::exists(databaseCopiesFolder()));
    EXPECT_TRUE(compactionLines().isEmpty());
    EXPECT_TRUE(session.data().Con_Novo.Connected());
    EXPECT_EQ(rowsOf(session.data().Con_Novo), rowsAtQuestion);
}

// What keeps a compaction from starting after "Sim": the file stays as it was, the log view
// says why, and Con_Novo is on its database again.
struct Obstacle {
    const char* label;
    const char* reason;  // a part of the log line
    bool fullDisk;       // the database on a disk with no room left
    bool otherAttachment;
};

class CompactionObstacle : public ::testing::TestWithParam<Obstacle> {};

TEST_P(CompactionObstacle, LeavesTheFileAsItWasWithTheReasonInTheLog) {
    const Obstacle& c = GetParam();
    test::TempFolder tmp;
    setExecutableDirForTesting(tmp.path(QStringLiteral("exe")));
    QString path = test::createDatabase(tmp.path(QStringLiteral("fotos.fdb")), kSchema);
    fillWithPhotos(path, 3);
    std::unique_ptr<test::FullFolder> disk;
    if (c.fullDisk) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const QString folder = tmp.path(QStringLiteral("disco"));
        disk = std::make_unique<test::FullFolder>(
            folder, QMap<QString, QByteArray>{{QStringLiteral("fotos.fdb"), bytes}},
            static_cast<int>(bytes.size() >> 20) + 2);
        if (!disk->mounted()) GTEST_SKIP() << disk->whyNot().toStdString();
        path = folder + QStringLiteral("/fotos.fdb");
    }
    const qint64 bytesBefore = QFileInfo(path).size();
    DataModule data;
    data.Con_Novo.Params = Connection::editParams(path);
    data.Con_Novo.Open();
    const QStringList rowsBefore = rowsOf(data.Con_Novo);
    Connection other(QStringLiteral("outro"));
    RecordingHost host;
    host.answer = [&](const QString&) {
        if (c.otherAttachment) {
            other.Params = Connection::editParams(path);
            other.Open();
        }
        return true;
    };

    offerCompaction(data, host);

    const QStringList log = host.eventsWith(QStringLiteral("log:"));
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].startsWith(
        QStringLiteral("O arquivo do banco de dados não foi compactado e continua como estava: ")))
        << log[0].toStdString();
    EXPECT_TRUE(log[0].contains(QString::fromUtf8(c.reason))) << log[0].toStdString();
    EXPECT_EQ(QFileInfo(path).size(), bytesBefore);
    ASSERT_TRUE(data.Con_Novo.Connected());
    EXPECT_EQ(data.Con_Novo.databaseString(), path);
    EXPECT_EQ(rowsOf(data.Con_Novo), rowsBefore);
    EXPECT_TRUE(filesIn(databaseCopiesFolder()).isEmpty());
    if (disk) {
        EXPECT_EQ(disk->entries(), QStringList{QStringLiteral("fotos.fdb")});
    }
    other.Close();
    data.Con_Novo.Close();
    setExecutableDirForTesting({});
}

INSTANTIATE_TEST_SUITE_P(Cases, CompactionObstacle,
                         ::testing::Values(Obstacle{"AnotherAttachment", "outro programa", false,
                                                    true},
                                           Obstacle{"AFullDisk", "falhou", true, false}),
                         [](const auto& param) { return std::string(param.param.label); });

}  // namespace patrimonio
