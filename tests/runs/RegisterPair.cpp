#include "RegisterPair.h"

#include <QProcess>
#include <stdexcept>

#include "core/AppPaths.h"

namespace patrimonio::test {

namespace {

const QStringList kGeneratedTables = {
    "PAT_RESPONSAVEL", "PAT_TIPOBEM", "PAT_LOCALIZACAO",          "PAT_SUBLOCALIZACAO",
    "PAT_BEM_VALOR",   "PAT_BEM",     "PAT_DEPRECIACAO_CONTROLE", "PAT_DEPRECIACAO",
    "PAT_REAVALIACAO", "PAT_BAIXA",   "PAT_TRANSFERENCIA",        "PAT_DEPRECIACAO_ANUAL"};

void runGenerator(const QStringList& args) {
    QProcess gen;
    gen.setProcessChannelMode(QProcess::MergedChannels);
    gen.start(QStringLiteral(GENERATE_REGISTER), args);
    if (!gen.waitForFinished(600000) || gen.exitCode() != 0) {
        throw std::runtime_error("generate_register failed: " + gen.readAll().toStdString());
    }
}

}  // namespace

QByteArray registerSchema() {
    return fixtureFile("schema.sql");
}
QByteArray sourceViewDdl() {
    return fixtureFile("source-view.sql");
}

RegisterPair::RegisterPair(const QByteArray& extraSourceDdl, const QByteArray& extraTargetDdl)
    : RegisterPair(Custom{}, registerSchema() + sourceViewDdl() + extraSourceDdl,
                   registerSchema() + extraTargetDdl) {}

RegisterPair::RegisterPair(Custom, const QByteArray& sourceDdl, const QByteArray& targetDdl) {
    if (executableDirForTesting().isEmpty()) {
        setExecutableDirForTesting(folder.path(QStringLiteral("programa")));
        ownsExecutableDir = true;
    }
    sourcePath = createDatabase(folder.path(QStringLiteral("origem.fdb")), sourceDdl);
    targetPath = createDatabase(folder.path(QStringLiteral("destino.fdb")), targetDdl);
    connect();
}

RegisterPair::~RegisterPair() {
    if (ownsExecutableDir) setExecutableDirForTesting({});
}

RegisterPair RegisterPair::custom(const QByteArray& sourceDdl, const QByteArray& targetDdl) {
    return RegisterPair(Custom{}, sourceDdl, targetDdl);
}

void RegisterPair::connect() {
    data.Con_Novo.Params = Connection::editParams(kServerPrefix + sourcePath);
    data.Con_Velho.Params = Connection::editParams(kServerPrefix + targetPath);
    data.Con_Novo.Open();
    data.Con_Velho.Open();
}

void RegisterPair::generate(const QMap<QString, int>& rows, bool defaults, bool photos) {
    QStringList args{QStringLiteral("--source"), sourcePath};
    if (!photos) args << QStringLiteral("--no-photos");
    for (const QString& table : kGeneratedTables) {
        if (rows.contains(table)) {
            args << QStringLiteral("--rows") << table + u'=' + QString::number(rows[table]);
        } else if (!defaults) {
            args << QStringLiteral("--rows") << table + QStringLiteral("=0");
        }
    }
    runGenerator(args);
    runGenerator({QStringLiteral("--target"), targetPath});
}

int RegisterPair::targetCount(const QString& table) const {
    return target(QStringLiteral("SELECT COUNT(*) FROM ") + table).value(0).toInt();
}

}  // namespace patrimonio::test
