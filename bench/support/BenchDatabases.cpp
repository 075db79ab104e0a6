#include "BenchDatabases.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <stdexcept>
#include <utility>

#include "TestDatabase.h"
#include "db/DataModule.h"
#include "db/RecordSet.h"

namespace patrimonio::bench {

DatabasePair makeDatabasePair(const QString& folder, const QString& name, SourceView view) {
    const QDir dir(folder);
    const QByteArray schema = test::fixtureFile("schema.sql");
    DatabasePair pair{dir.filePath(name + QStringLiteral("-origem.fdb")),
                      dir.filePath(name + QStringLiteral("-destino.fdb"))};
    test::createDatabase(pair.source, view == SourceView::With
                                          ? schema + test::fixtureFile("source-view.sql")
                                          : schema);
    test::createDatabase(pair.target, schema);
    return pair;
}

void generateRegister(const QStringList& args) {
    QProcess gen;
    gen.setProcessChannelMode(QProcess::ForwardedChannels);
    gen.start(QStringLiteral(GENERATE_REGISTER), args);
    if (!gen.waitForFinished(-1) || gen.exitCode() != 0) throw std::runtime_error("generator");
}

DatabasePair makeGrownPair(const QString& folder, const QString& name, int depreciations) {
    const DatabasePair p = makeDatabasePair(folder, name, SourceView::With);
    generateRegister({QStringLiteral("--source"), p.source, QStringLiteral("--rows"),
                      QStringLiteral("PAT_DEPRECIACAO=%1").arg(depreciations)});
    generateRegister({QStringLiteral("--target"), p.target});
    return p;
}

DatabasePair freshCopy(const DatabasePair& pair, const QString& name) {
    const QDir dir = QFileInfo(pair.source).dir();
    const DatabasePair copy{dir.filePath(name + QStringLiteral("-origem.fdb")),
                            dir.filePath(name + QStringLiteral("-destino.fdb"))};
    for (const auto& [from, to] :
         {std::pair{pair.source, copy.source}, {pair.target, copy.target}}) {
        QFile::remove(to);
        if (!QFile::copy(from, to)) throw std::runtime_error("cannot copy " + from.toStdString());
    }
    return copy;
}

void openPair(DataModule& data, const DatabasePair& pair) {
    data.Con_Novo.Params = Connection::editParams(test::kServerPrefix + pair.source);
    data.Con_Velho.Params = Connection::editParams(test::kServerPrefix + pair.target);
    data.Con_Novo.Open();
    data.Con_Velho.Open();
}

void fillRows(const QString& database, const QString& table, int rows, const QString& values) {
    Connection con(QStringLiteral("Con_Bench"));
    con.Params = Connection::editParams(database);
    con.ExecuteDirect(QStringLiteral("execute block as declare i integer = 0; begin\n"
                                     "  while (i < %1) do begin\n"
                                     "    i = i + 1;\n"
                                     "    insert into %2 values (%3);\n"
                                     "  end\n"
                                     "end")
                          .arg(rows)
                          .arg(table, values));
}

void appendPhotoRows(const QString& database, int first, int last,
                     const std::vector<QByteArray>& samples) {
    Connection con(QStringLiteral("Con_Bench"));
    con.Params = Connection::editParams(database);
    RecordSet rows(con);
    rows.setCommandText(QStringLiteral(
        "SELECT BEM_CODIGO, BEM_DESCRICAO, BEM_IMAGEM, BEM_IMAGEM_NOME FROM PAT_BEM WHERE 1=0"));
    rows.Open();
    for (int code = first; code <= last; ++code) {
        rows.Append();
        rows.Fields(0).setAsVariant(Value::integer(code));
        rows.Fields(1).setAsString(QStringLiteral("Bem"));
        rows.Fields(2).setAsVariant(Value::binary(samples[code % samples.size()]));
        rows.Fields(3).setAsString(QStringLiteral("foto%1.jpg").arg(code));
        rows.Post();
        if ((code - first) % 20 == 19 && rows.ApplyUpdates(0) != 0)
            throw std::runtime_error("a photo row was refused");
    }
    if (rows.ApplyUpdates(0) != 0) throw std::runtime_error("a photo row was refused");
}

void emptyTable(const QString& database, const QByteArray& table) {
    test::runIsql("DELETE FROM " + table + ";\ncommit;\n", database);
}

}  // namespace patrimonio::bench
