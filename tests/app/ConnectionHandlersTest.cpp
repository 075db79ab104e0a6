// The database fields against the real server: each change tries to connect at once, success
// colours the field and says so, failure closes the connection, reddens the field and says
// nothing, and a connection always belongs to the database its field names.

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>

#include "WindowFixture.h"
#include "db/Connection.h"

namespace patrimonio::test {

namespace {

const QColor kLime(0, 255, 0);
const QColor kRed(255, 0, 0);

// A marker table tells which database an open connection is really on.
QString makeDatabase(const QString& path, const char* marker) {
    return createDatabase(path, QByteArray("create table ") + marker + " (id integer);");
}

bool isOn(Connection& c, const char* marker) {
    try {
        c.ExecuteDirect(QStringLiteral("delete from %1").arg(QLatin1StringView(marker)));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

QColor background(const QLineEdit* e) {
    return e->palette().color(QPalette::Base);
}

}  // namespace

class ConnectionHandlers : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        source = makeDatabase(folder.path(QStringLiteral("origem.fdb")), "SOURCE_MARK");
        target = makeDatabase(folder.path(QStringLiteral("destino.fdb")), "TARGET_MARK");
        white = background(ui().Edit4);
    }

    Connection& novo() { return window->data().Con_Novo; }
    Connection& velho() { return window->data().Con_Velho; }
    QString source, target;
    QColor white;
};

TEST_F(ConnectionHandlers, EachFieldConnectsItsConnectionInImportMode) {
    ui().Edit4->setText(source);
    EXPECT_TRUE(novo().Connected());
    EXPECT_EQ(novo().Params, Connection::editParams(QStringLiteral("127.0.0.1/3052:") + source));
    EXPECT_FALSE(novo().LoginPrompt);
    EXPECT_EQ(background(ui().Edit4), kLime);
    EXPECT_EQ(messages, QStringList{"Conectado a base de dados: origem.fdb"});
    EXPECT_TRUE(isOn(novo(), "SOURCE_MARK"));

    messages.clear();
    ui().Edit2->setText(target);
    EXPECT_TRUE(velho().Connected());
    EXPECT_EQ(velho().Params, Connection::editParams(QStringLiteral("127.0.0.1/3052:") + target));
    EXPECT_EQ(background(ui().Edit2), QApplication::palette().color(QPalette::ToolTipBase));
    EXPECT_EQ(messages, QStringList{"Conectado a base de dados: destino.fdb"});
    EXPECT_TRUE(isOn(velho(), "TARGET_MARK"));
    EXPECT_TRUE(takeErrorDialogs().isEmpty());
}

TEST_F(ConnectionHandlers, PhotoOnlyModeOpensTheTargetFieldByItsBarePath) {
    ui().Ck_Apenas_Tratar_Imagem->setChecked(true);
    ui().Edit2->setText(target);
    EXPECT_TRUE(novo().Connected());
    EXPECT_FALSE(velho().Connected());
    EXPECT_EQ(novo().Params, Connection::editParams(target));
    EXPECT_EQ(background(ui().Edit2), kLime);
    EXPECT_EQ(messages, QStringList{"Conectado."});
    EXPECT_TRUE(isOn(novo(), "TARGET_MARK"));
}

TEST_F(ConnectionHandlers, WhatCannotBeOpenedFailsSilentlyInRed) {
    const QString cases[] = {folder.path(QStringLiteral("nao-existe.fdb")),
                             QStringLiteral("/sem/pasta/x.fdb"), QStringLiteral("x")};
    for (const QString& path : cases) {
        ui().Edit4->setText(path);
        ui().Edit2->setText(path);
    }
    EXPECT_FALSE(novo().Connected());
    EXPECT_FALSE(velho().Connected());
    EXPECT_EQ(background(ui().Edit4), kRed);
    EXPECT_EQ(background(ui().Edit2), kRed);
    EXPECT_NE(white, kRed);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(takeErrorDialogs().isEmpty());
}

// A red field carries why, in the operator's words with the server's own message, and only
// there: no box, nothing in the log view or the status texts.
TEST_F(ConnectionHandlers, ARedFieldSaysWhyItCannotConnect) {
    const QString text = folder.path(QStringLiteral("leia-me.fdb"));
    {
        QFile f(text);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("isto não é um banco de dados\n");
    }
    const QString held = createDatabase(folder.path(QStringLiteral("em-uso.fdb")));
    const struct {
        const char* label;
        bool photoOnly;
        QString path;
        const char* reason;
    } cases[] = {
        {"file not found", false, folder.path(QStringLiteral("nao-existe.fdb")),
         "Arquivo não encontrado."},
        {"not a Firebird database", false, text, "O arquivo não é um banco de dados Firebird"},
        {"in use by another program", true, held, "O banco está em uso por outro programa"},
    };
    // Another program holds the last one through the server.
    Connection other(QStringLiteral("Outro"));
    other.Params = Connection::editParams(kServerPrefix + held);
    other.Open();
    const QString statusBefore = ui().LblStatus->text();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        if (ui().Ck_Apenas_Tratar_Imagem->isChecked() != c.photoOnly)
            ui().Ck_Apenas_Tratar_Imagem->setChecked(c.photoOnly);
        ui().Edit2->setText(c.path);
        EXPECT_EQ(background(ui().Edit2), kRed);
        const QString tip = ui().Edit2->toolTip();
        EXPECT_TRUE(tip.startsWith(QString::fromUtf8(c.reason))) << tip.toStdString();
        // The server's own message follows on a line of its own.
        EXPECT_GE(tip.indexOf(u'\n'), 0) << tip.toStdString();
    }
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(takeErrorDialogs().isEmpty());
    EXPECT_TRUE(ui().MemoLOG->toPlainText().isEmpty());
    EXPECT_EQ(ui().LblStatus->text(), statusBefore);

    // Once it connects, the field says nothing more.
    other.Close();
    ui().Edit2->setText(held + QStringLiteral(" "));
    ui().Edit2->setText(held);
    EXPECT_NE(background(ui().Edit2), kRed);
    EXPECT_TRUE(ui().Edit2->toolTip().isEmpty());
}

TEST_F(ConnectionHandlers, BlankTextTriesNothingAndATypedBlankIsSentAsTyped) {
    const QStringList before = novo().Params;
    ui().Edit4->setText(QStringLiteral("   "));
    EXPECT_EQ(novo().Params, before);
    ui().Edit4->setText(u' ' + source);
    EXPECT_EQ(novo().Params, Connection::editParams(QStringLiteral("127.0.0.1/3052: ") + source));

    ui().Edit4->setText(source);
    ASSERT_TRUE(novo().Connected());
    messages.clear();
    ui().Edit4->clear();
    ui().Edit4->setText(QStringLiteral(" \t"));
    EXPECT_TRUE(novo().Connected());
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(ConnectionHandlers, AConnectionFollowsItsFieldKeyByKeyAndToAnotherFile) {
    // One change per keystroke, as typing makes them: every prefix that names no database
    // leaves the connection closed and the field red, without a word.
    for (QChar c : source) {
        ui().Edit4->insert(QString(c));
        if (ui().Edit4->text() == source) break;
        ASSERT_FALSE(novo().Connected()) << ui().Edit4->text().toStdString();
        ASSERT_EQ(background(ui().Edit4), kRed);
    }
    EXPECT_TRUE(novo().Connected());
    EXPECT_EQ(background(ui().Edit4), kLime);
    EXPECT_EQ(messages, QStringList{"Conectado a base de dados: origem.fdb"});
    EXPECT_TRUE(isOn(novo(), "SOURCE_MARK"));

    // One keystroke more names no database: the connection lets the source go.
    messages.clear();
    ui().Edit4->insert(QStringLiteral("x"));
    EXPECT_FALSE(novo().Connected());
    EXPECT_TRUE(novo().databaseString().isEmpty());
    EXPECT_EQ(background(ui().Edit4), kRed);
    EXPECT_TRUE(messages.isEmpty());

    // Another file: the connection is on it, as the message says.
    ui().Edit4->setText(target);
    EXPECT_EQ(messages, QStringList{"Conectado a base de dados: destino.fdb"});
    EXPECT_EQ(background(ui().Edit4), kLime);
    EXPECT_TRUE(isOn(novo(), "TARGET_MARK"));
    EXPECT_FALSE(isOn(novo(), "SOURCE_MARK"));

    // In photo-only mode the target field drives Con_Novo, by the bare path of its file.
    messages.clear();
    ui().Ck_Apenas_Tratar_Imagem->setChecked(true);
    ui().Edit2->setText(source);
    EXPECT_EQ(messages, QStringList{"Conectado."});
    EXPECT_EQ(background(ui().Edit2), kLime);
    EXPECT_EQ(novo().databaseString(), source);
    EXPECT_TRUE(isOn(novo(), "SOURCE_MARK"));
}

TEST_F(ConnectionHandlers, ModeBoxLeavesConnectionsAlone) {
    ui().Edit2->setText(target);
    ASSERT_TRUE(velho().Connected());
    ui().Ck_Apenas_Tratar_Imagem->setChecked(true);
    ui().Ck_Apenas_Tratar_Imagem->setChecked(false);
    EXPECT_TRUE(velho().Connected());
    EXPECT_FALSE(novo().Connected());
    EXPECT_TRUE(isOn(velho(), "TARGET_MARK"));
}

TEST_F(ConnectionHandlers, PickerButtonsSetThePathAndCancelChangesNothing) {
    chosenFile = source;
    QTest::mouseClick(ui().SpeedButton1, Qt::LeftButton);
    EXPECT_EQ(ui().Edit4->text(), source);
    EXPECT_EQ(messages, QStringList{"Conectado a base de dados: origem.fdb"});

    // The same path again is no change, so nothing is tried; a cancelled dialog does nothing.
    QTest::mouseClick(ui().SpeedButton1, Qt::LeftButton);
    chosenFile.clear();
    QTest::mouseClick(ui().SpeedButton1, Qt::LeftButton);
    QTest::mouseClick(ui().SpeedButton2, Qt::LeftButton);
    EXPECT_EQ(ui().Edit4->text(), source);
    EXPECT_TRUE(ui().Edit2->text().isEmpty());
    EXPECT_EQ(messages.size(), 1);

    chosenFile = target;
    QTest::mouseClick(ui().SpeedButton2, Qt::LeftButton);
    EXPECT_EQ(ui().Edit2->text(), target);
    EXPECT_TRUE(velho().Connected());

    // Ticked, the source picker is disabled.
    ui().Ck_Apenas_Tratar_Imagem->setChecked(true);
    chosenFile = folder.path(QStringLiteral("outro.fdb"));
    QTest::mouseClick(ui().SpeedButton1, Qt::LeftButton);
    EXPECT_EQ(ui().Edit4->text(), source);
}

TEST_F(ConnectionHandlers, AnAccentedPathOpensThroughTheServer) {
    const QString accented = folder.path(QString::fromUtf8("patrimônio"));
    ASSERT_TRUE(QDir().mkpath(accented));
    const QString path = accented + QString::fromUtf8("/cópia.fdb");
    ASSERT_TRUE(QFile::rename(source, path));

    ui().Edit4->setText(path);
    EXPECT_TRUE(novo().Connected());
    EXPECT_EQ(messages, QStringList{QString::fromUtf8("Conectado a base de dados: cópia.fdb")});
    EXPECT_TRUE(isOn(novo(), "SOURCE_MARK"));
}

TEST_F(ConnectionHandlers, AnAccentedPathOpensByBarePath) {
    const QString accented = folder.path(QString::fromUtf8("patrimônio"));
    ASSERT_TRUE(QDir().mkpath(accented));
    const QString path = accented + QString::fromUtf8("/destino é.fdb");
    ASSERT_TRUE(QFile::rename(target, path));

    ui().Ck_Apenas_Tratar_Imagem->setChecked(true);
    ui().Edit2->setText(path);
    EXPECT_TRUE(novo().Connected());
    EXPECT_EQ(messages, QStringList{"Conectado."});
    EXPECT_TRUE(isOn(novo(), "TARGET_MARK"));
}

}  // namespace patrimonio::test
