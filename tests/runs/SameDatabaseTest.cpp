// One database in both fields, however it is spelled, is refused before anything is touched;
// two databases, even two files with the same content, still run. (A server alias of the file
// is tried where the identity is decided, in the db tests.)

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <filesystem>
#include <functional>

#include "QStringPrinter.h"
#include "RegisterPair.h"
#include "TestDatabase.h"
#include "core/AppPaths.h"
#include "core/Errors.h"

namespace patrimonio::test {
namespace {

const QString kSourceField = QStringLiteral("\"Banco com as informações.\"");
const QString kTargetField = QStringLiteral("\"Banco a ser atualizado.\"");

// The pair's source register, with rows in every table, chosen in both fields: the second
// field by another spelling of the same file.
class SameDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        pair.generate({}, true, true);
        before = databaseContents(pair.sourcePath);
    }

    // Both fields on the database as spelled, connected as the edit boxes connect them.
    void choose(const QString& source, const QString& target) {
        for (Connection* c : {&pair.data.Con_Novo, &pair.data.Con_Velho}) c->Close();
        pair.data.Con_Novo.Params = Connection::editParams(kServerPrefix + source);
        pair.data.Con_Velho.Params = Connection::editParams(kServerPrefix + target);
        pair.data.Con_Novo.Open();
        pair.data.Con_Velho.Open();
    }

    // The run refuses, names both fields, shows nothing, makes no copy and changes nothing.
    void expectRefused() {
        pair.host.events.clear();
        try {
            pair.run.run();
            ADD_FAILURE() << "the run went on";
        } catch (const AppError& e) {
            EXPECT_TRUE(e.message().contains(kSourceField)) << e.message().toStdString();
            EXPECT_TRUE(e.message().contains(kTargetField)) << e.message().toStdString();
            EXPECT_TRUE(e.message().contains(QStringLiteral("nenhum banco foi alterado")))
                << e.message().toStdString();
        }
        EXPECT_TRUE(pair.host.events.isEmpty()) << pair.host.events.join(u'\n').toStdString();
        EXPECT_FALSE(QFileInfo::exists(databaseCopiesFolder()));
        EXPECT_FALSE(pair.run.reportLogged());
        for (Connection* c : {&pair.data.Con_Novo, &pair.data.Con_Velho}) c->Close();
        EXPECT_EQ(databaseContents(pair.sourcePath), before);
    }

    RegisterPair pair;
    QStringList before;
};

struct Spelling {
    const char* label;
    // The second field's text for the file, made in the file's folder.
    std::function<QString(const QString& folder, const QString& name)> spell;
};

QString linked(const QString& link, const QString& to, bool hard) {
    std::error_code error;
    const std::filesystem::path from(link.toStdU16String()), target(to.toStdU16String());
    if (hard) {
        std::filesystem::create_hard_link(target, from, error);
    } else {
        std::filesystem::create_symlink(target, from, error);
    }
    if (error) ADD_FAILURE() << "cannot make " << link.toStdString() << ": " << error.message();
    return link;
}

TEST_F(SameDatabase, EverySpellingOfOneFileInBothFieldsIsRefusedWithNothingTouched) {
    const Spelling spellings[] = {
        {"the same path", [](const QString& d, const QString& n) { return d + u'/' + n; }},
        {"through ./", [](const QString& d, const QString& n) { return d + "/./" + n; }},
        {"through ..",
         [](const QString& d, const QString& n) {
             QDir(d).mkpath(QStringLiteral("sub"));
             return d + "/sub/../" + n;
         }},
        {"a doubled slash", [](const QString& d, const QString& n) { return d + "//" + n; }},
        {"a symbolic link to the file",
         [](const QString& d, const QString& n) {
             return linked(d + "/ligacao.fdb", d + u'/' + n, false);
         }},
        {"a symbolic link to the folder",
         [](const QString& d, const QString& n) {
             return linked(d + "-ligada", d, false) + u'/' + n;
         }},
        {"a hard link", [](const QString& d, const QString& n) {
             return linked(d + "/outro-nome.fdb", d + u'/' + n, true);
         }}};
    const QFileInfo file(pair.sourcePath);
    for (const Spelling& s : spellings) {
        SCOPED_TRACE(s.label);
        const QString spelled = s.spell(file.absolutePath(), file.fileName());
        choose(pair.sourcePath, spelled);
        expectRefused();
        // The other way round too: the spelling in the source field.
        choose(spelled, pair.sourcePath);
        expectRefused();
    }
    QFile::remove(file.absolutePath() + "-ligada");
}

TEST_F(SameDatabase, TwoDatabasesStillRunEvenWhenOneIsAFileCopyOfTheOther) {
    // A file copy of the source, made while no one is attached to it: the same bytes, another
    // database.
    const QString copy = pair.folder.path(QStringLiteral("copia-da-origem.fdb"));
    for (Connection* c : {&pair.data.Con_Novo, &pair.data.Con_Velho}) c->Close();
    ASSERT_TRUE(QFile::copy(pair.sourcePath, copy));
    choose(pair.sourcePath, copy);

    EXPECT_EQ(pair.run.run(), ImportEnd::Completed);

    EXPECT_EQ(pair.host.statuses().last(), QStringLiteral("Aguardando..."));
    for (Connection* c : {&pair.data.Con_Novo, &pair.data.Con_Velho}) c->Close();
    EXPECT_EQ(databaseContents(pair.sourcePath), before);
    EXPECT_EQ(queryRows(copy, QStringLiteral("SELECT COUNT(*) FROM PAT_BEM")),
              queryRows(pair.sourcePath, QStringLiteral("SELECT COUNT(*) FROM PAT_BEM")));
}

}  // namespace
}  // namespace patrimonio::test
