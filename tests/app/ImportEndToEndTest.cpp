// A whole import run as the operator makes it: the demo pair of databases chosen in the window,
// the run button pressed, the boxes answered; then the target is checked table by table against
// the source.

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTextEdit>
#include <optional>

#include "RtfUnrtf.h"
#include "WindowFixture.h"
#include "app/RunChannel.h"
#include "core/LogView.h"
#include "db/RecordSet.h"

namespace patrimonio::test {
namespace {

void generate(const QStringList& args) {
    QProcess gen;
    gen.setProcessChannelMode(QProcess::MergedChannels);
    gen.start(QStringLiteral(GENERATE_REGISTER), args);
    if (!gen.waitForFinished(600000) || gen.exitCode() != 0)
        throw std::runtime_error("generate_register failed: " + gen.readAll().toStdString());
}

// The photo a database holds for an asset; nothing when it is null.
std::optional<QByteArray> photoIn(Connection& connection, const QString& code) {
    RecordSet rs(connection);
    rs.setCommandText(
        QStringLiteral("SELECT BEM_CODIGO, BEM_IMAGEM FROM PAT_BEM WHERE BEM_CODIGO = ") + code);
    rs.Open();
    if (rs.Eof() || rs.Fields(1).isNull()) return std::nullopt;
    return rs.Fields(1).AsVariant().bytes();
}

std::optional<QByteArray> fileBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll();
}

class ImportEndToEnd : public WindowFixture {
protected:
    // The demo pair, made as the demo script makes it.
    void makeDemo() {
        sourcePath = createDatabase(folder.path(QStringLiteral("origem.fdb")),
                                    fixtureFile("schema.sql") + fixtureFile("source-view.sql"));
        targetPath =
            createDatabase(folder.path(QStringLiteral("destino.fdb")), fixtureFile("schema.sql"));
        generate({QStringLiteral("--source"), sourcePath});
        generate({QStringLiteral("--target"), targetPath});
    }

    QStringList source(const QString& sql) const { return queryRows(sourcePath, sql); }
    QStringList target(const QString& sql) const { return queryRows(targetPath, sql); }

    QString sourcePath;
    QString targetPath;
};

TEST_F(ImportEndToEnd, DemoPairChosenInTheWindowIsImportedWhole) {
    makeDemo();
    // Rows of the target's own that the run must clear.
    runIsql(
        "INSERT INTO PAT_BEM_VALOR (BV_CODIGO, BEM_CODIGO) VALUES (1, 1);\n"
        "INSERT INTO PAT_TIPOBEM (TB_CODIGO, TB_DESCRICAO) VALUES (900, 'Antigo');\n"
        "commit;\n",
        targetPath);
    const int targetOrgans = target("SELECT COUNT(*) FROM GORGAOUNIDADE").value(0).toInt();

    // The source through its picker, the target typed into its box.
    chosenFile = sourcePath;
    QTest::mouseClick(ui().SpeedButton1, Qt::LeftButton);
    // Typed key by key: every prefix tries to connect, and only the whole path does.
    for (const QChar ch : targetPath) ui().Edit2->insert(QString(ch));
    ASSERT_EQ(messages, (QStringList{"Conectado a base de dados: origem.fdb",
                                     "Conectado a base de dados: destino.fdb"}));
    messages.clear();
    // The report and "Salvar Log" come before the completion message.
    bool logButtonAtCompletion = false;
    bool reportAtCompletion = false;
    window->seams().message = [&](const QString& text) {
        messages << text;
        logButtonAtCompletion = ui().BtnLOG->isEnabled();
        reportAtCompletion = ui().MemoLOG->toPlainText().contains("Localizações sem órgão");
    };

    clickRun();

    ASSERT_EQ(messages, QStringList{"Importação concluída."});
    EXPECT_TRUE(logButtonAtCompletion);
    EXPECT_TRUE(reportAtCompletion);
    EXPECT_EQ(ui().LblStatus->text(), "Aguardando...");
    EXPECT_FALSE(window->runUnderWay());
    EXPECT_TRUE(ui().BitBtn1->isEnabled());

    // Tables copied as they stand.
    for (const char* table : {"PAT_RESPONSAVEL", "PAT_TIPOBEM", "PAT_SUBLOCALIZACAO",
                              "PAT_DEPRECIACAO_CONTROLE", "PAT_BAIXA"}) {
        const QString sql = QStringLiteral("SELECT * FROM %1 ORDER BY 1").arg(table);
        const QStringList rows = source(sql);
        EXPECT_FALSE(rows.isEmpty()) << table;
        EXPECT_EQ(target(sql), rows) << table;
    }
    // Copied without the asset-value reference, which the run empties.
    const QMap<QString, QString> withoutValue = {
        {"PAT_DEPRECIACAO",
         "DEP_CODIGO, BEM_CODIGO, DC_CODIGO, DEP_DATA, DEP_VALOR, DEP_VALOR_ACUMULADO, DEP_TAXA"},
        {"PAT_REAVALIACAO",
         "REA_CODIGO, BEM_CODIGO, REA_DATA, REA_VALOR_ANTERIOR, REA_VALOR_NOVO, REA_DIFERENCA, "
         "REA_LAUDO, REA_MOTIVO"},
        {"PAT_BEM",
         "BEM_CODIGO, BEM_PLAQUETA, BEM_DESCRICAO, BEM_OBSERVACAO, TB_CODIGO, LOC_CODIGO, "
         "SUB_CODIGO, RES_CODIGO, BEM_DATA_AQUISICAO, BEM_VALOR_AQUISICAO, BEM_VALOR_RESIDUAL, "
         "BEM_ANO_AQUISICAO, BEM_NOTA_FISCAL, BEM_FORNECEDOR, BEM_ESTADO, BEM_IMAGEM_NOME"}};
    for (auto it = withoutValue.begin(); it != withoutValue.end(); ++it) {
        const QString sql =
            QStringLiteral("SELECT %1 FROM %2 ORDER BY 1").arg(it.value(), it.key());
        EXPECT_EQ(target(sql), source(sql)) << it.key().toStdString();
        EXPECT_EQ(target(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE BV_CODIGO IS NOT NULL")
                             .arg(it.key())),
                  QStringList{"0"})
            << it.key().toStdString();
    }
    // Purged and not refilled.
    for (const char* table : {"PAT_BEM_VALOR", "PAT_TRANSFERENCIA", "PAT_DEPRECIACAO_ANUAL"}) {
        EXPECT_EQ(target(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table)), QStringList{"0"})
            << table;
    }
    // Two reserve rows beside the target's own organs and units.
    EXPECT_EQ(target("SELECT COUNT(*) FROM GORGAOUNIDADE").value(0).toInt(), targetOrgans + 2);
    EXPECT_EQ(target("SELECT COUNT(*) FROM GORGAOUNIDADE WHERE NMORGUNI LIKE 'RESERVA DE CONT%'")
                  .value(0)
                  .toInt(),
              2);

    // Locations: each keeps its organ and unit under the target's numbering, or none when the
    // target does not have the pair.
    const QString locationsSql = QStringLiteral(
        "SELECT L.LOC_CODIGO, L.LOC_DESCRICAO, L.RES_CODIGO, L.LOC_ENDERECO, L.LOC_ATIVO, G.CDORG, "
        "G.CDUNI FROM PAT_LOCALIZACAO L LEFT JOIN GORGAOUNIDADE G ON G.CDORGUNI = L.CDORGUNI "
        "ORDER BY 1");
    const QSet<QString> targetPairs = [&] {
        const QStringList pairs = target("SELECT CDORG, CDUNI FROM GORGAOUNIDADE");
        return QSet<QString>(pairs.begin(), pairs.end());
    }();
    QStringList expectedLocations;
    for (const QString& row : source(locationsSql)) {
        QStringList cols = row.split(u'|');
        if (!targetPairs.contains(cols[5] + u'|' + cols[6])) cols[5] = cols[6] = "<null>";
        expectedLocations << cols.join(u'|');
    }
    EXPECT_EQ(target(locationsSql), expectedLocations);

    // Photos: the recompressed JPEG of the after file, or the photo as stored when it could not
    // be recompressed (named in the log), or none.
    const QString log = ui().MemoLOG->toPlainText();
    int recompressed = 0, kept = 0, none = 0;
    for (const QString& row : source("SELECT BEM_CODIGO, BEM_IMAGEM_NOME FROM PAT_BEM")) {
        const QString code = row.section(u'|', 0, 0);
        QString name = row.section(u'|', 1);
        if (name == "<null>") name.clear();
        const std::optional<QByteArray> stored = photoIn(window->data().Con_Novo, code);
        const std::optional<QByteArray> arrived = photoIn(window->data().Con_Velho, code);
        const std::optional<QByteArray> after =
            fileBytes(folder.path(QStringLiteral("Imagens_Depois/%1 %2").arg(code, name)));
        EXPECT_EQ(fileBytes(folder.path(QStringLiteral("Imagens_Antes/%1__%2").arg(code, name))),
                  stored.value_or(QByteArray()))
            << code.toStdString();
        const QString keptLine = QStringLiteral("Bem %1: foto importada como estava").arg(code);
        if (!stored) {
            ++none;
            EXPECT_EQ(arrived, std::nullopt) << code.toStdString();
        } else if (after) {
            ++recompressed;
            EXPECT_EQ(arrived, after) << code.toStdString();
            EXPECT_FALSE(log.contains(keptLine)) << code.toStdString();
        } else {
            ++kept;
            EXPECT_EQ(arrived, stored) << code.toStdString();
            EXPECT_TRUE(log.contains(keptLine)) << code.toStdString();
        }
    }
    EXPECT_GT(recompressed, 0);
    EXPECT_GT(kept, 0);
    EXPECT_GT(none, 0);
    EXPECT_TRUE(log.contains(QStringLiteral("Fotos dos bens: %1 recompactadas, %2 mantidas sem "
                                            "recompactar, %3 bens sem foto;")
                                 .arg(recompressed)
                                 .arg(kept)
                                 .arg(none)))
        << log.toStdString();
    EXPECT_TRUE(
        log.contains("PAT_BEM: 40 lidos, 40 gravados, 0 recusados; 40 no banco a ser "
                     "atualizado"))
        << log.toStdString();

    // A later photo pass's failed codes start on a line of their own, in the view and in the
    // saved log.
    RunChannel channel(*window, {}, {});
    appendLogCode(channel, QStringLiteral("12"));
    appendLogCode(channel, QStringLiteral("40"));
    channel.deliver();
    const QStringList lines = ui().MemoLOG->toPlainText().split(u'\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines.last(), "12 - 40");
    EXPECT_TRUE(lines[lines.size() - 2].startsWith("Localizações sem órgão/unidade traduzido: "));
    channel.saveLog();
    const QStringList saved =
        unrtfText(folder.path(QStringLiteral("Log_Imagens_Com_Erro.txt"))).split(u'\n');
    ASSERT_GE(saved.size(), 2);
    EXPECT_EQ(saved.last(), "12 - 40");
    EXPECT_EQ(saved[saved.size() - 2], lines[lines.size() - 2]);
}

}  // namespace
}  // namespace patrimonio::test
