#include "FaultWindow.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <stdexcept>

#include "RegisterPair.h"

namespace patrimonio::test {

void generateRegister(const QStringList& args) {
    QProcess gen;
    gen.setProcessChannelMode(QProcess::MergedChannels);
    gen.start(QStringLiteral(GENERATE_REGISTER), args);
    if (!gen.waitForFinished(600000) || gen.exitCode() != 0)
        throw std::runtime_error("generate_register failed: " + gen.readAll().toStdString());
}

Register FaultWindow::makeRegister(int assets, bool photos) {
    Register r;
    r.source = createDatabase(folder.path(QStringLiteral("origem.fdb")),
                              registerSchema() + sourceViewDdl());
    r.target = createDatabase(folder.path(QStringLiteral("destino.fdb")), registerSchema());
    QStringList args{QStringLiteral("--source"), r.source, QStringLiteral("--rows"),
                     QStringLiteral("PAT_BEM=%1").arg(assets)};
    if (!photos) args << QStringLiteral("--no-photos");
    generateRegister(args);
    generateRegister({QStringLiteral("--target"), r.target});
    return r;
}

void FaultWindow::chooseForImport(const Register& r) {
    ui().Edit4->setText(r.source);
    ui().Edit2->setText(r.target);
}

void FaultWindow::chooseForPhotos(const QString& path) {
    if (!ui().Ck_Apenas_Tratar_Imagem->isChecked()) ui().Ck_Apenas_Tratar_Imagem->click();
    ui().Edit2->setText(path);
}

int FaultWindow::number(const QString& path, const QString& sql) {
    return queryRows(path, sql).value(0).toInt();
}

int FaultWindow::count(const QString& path, const QString& table) {
    return number(path, QStringLiteral("SELECT COUNT(*) FROM ") + table);
}

int FaultWindow::withPhoto(const QString& path) {
    return number(path, QStringLiteral("SELECT COUNT(*) FROM PAT_BEM WHERE BEM_IMAGEM IS NOT NULL "
                                       "AND OCTET_LENGTH(BEM_IMAGEM) > 0"));
}

bool FaultWindow::completed() const {
    for (const QString& m : messages)
        if (m.startsWith(QStringLiteral("Importação concluída."))) return true;
    return false;
}

void FaultWindow::expectWindowGivenBack() const {
    EXPECT_TRUE(ui().BitBtn1->isEnabled());
    EXPECT_TRUE(ui().Ck_Apenas_Tratar_Imagem->isEnabled());
    EXPECT_FALSE(window->runUnderWay());
}

}  // namespace patrimonio::test
