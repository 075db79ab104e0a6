#include "runs/CompactionOffer.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>

#include "core/Amounts.h"
#include "core/AppPaths.h"
#include "core/Errors.h"
#include "db/DatabaseCompaction.h"

namespace patrimonio {

const QString kCompactionStatus = QStringLiteral("Compactando o arquivo do banco de dados.");

QString compactionQuestion(qint64 bytesNow, qint64 bytesAfter, bool photosSmaller) {
    const QString why =
        photosSmaller ? QStringLiteral(
                            "As imagens ficaram menores, mas o arquivo do banco de dados não "
                            "diminui sozinho: o Firebird guarda o espaço liberado dentro dele.")
                      : QStringLiteral(
                            "O arquivo do banco de dados não diminui sozinho: o Firebird "
                            "guarda o espaço liberado dentro dele.");
    const QString sizes =
        bytesAfter > 0 ? QStringLiteral("O arquivo tem hoje %1; compactado, terá cerca de %2.")
                             .arg(sizeText(bytesNow), sizeText(bytesAfter))
                       : QStringLiteral("O arquivo tem hoje %1.").arg(sizeText(bytesNow));
    return why + u'\n' + sizes +
           QStringLiteral(
               "\nCompactar o arquivo do banco de dados agora? O arquivo atual será "
               "guardado inteiro na pasta Bancos_Antes.");
}

void offerCompaction(DataModule& data, RunHost& host, bool photosSmaller) {
    Connection& con = data.Con_Novo;
    CompactionEstimate estimate;
    try {
        estimate = estimateCompaction(con);
    } catch (const AppError& e) {
        host.appendLogLine(
            QStringLiteral("O tamanho do arquivo do banco de dados não pôde ser lido, e a "
                           "compactação não foi oferecida: %1")
                .arg(e.message()));
        return;
    }
    if (!host.askYesNo(
            compactionQuestion(estimate.fileBytes, estimate.compactedBytes, photosSmaller)))
        return;

    host.setStatus(kCompactionStatus);
    host.pumpMessages();
    // Nothing of ours may stay on the file: the record sets and the connection let go of it,
    // and come back to the same database afterwards.
    const QString database = con.databaseString();
    const QString user = con.openedParameter(QStringLiteral("USER_NAME"));
    const QString password = con.openedParameter(QStringLiteral("PASSWORD"));
    const QStringList params = con.Params;
    data.CdsNovo.Close();
    data.CdsAux.Close();
    con.Close();
    try {
        const Compaction done = compactDatabase(database, user, password, databaseCopiesFolder(),
                                                QDateTime::currentDateTime());
        if (!done.leftoversRemoved.isEmpty()) {
            QStringList names;
            for (const QString& f : done.leftoversRemoved) names << QDir::toNativeSeparators(f);
            host.appendLogLine(QStringLiteral("Removidos os arquivos que uma compactação "
                                              "interrompida deixou ao lado do banco: %1.")
                                   .arg(names.join(QStringLiteral(", "))));
        }
        host.appendLogLine(
            QStringLiteral("Arquivo do banco de dados compactado: %1 passou de %2 para %3.")
                .arg(QDir::toNativeSeparators(done.database), sizeText(done.bytesBefore),
                     sizeText(done.bytesAfter)));
        host.appendLogLine(QStringLiteral("O arquivo como estava antes foi guardado inteiro em %1.")
                               .arg(QDir::toNativeSeparators(done.keptAt)));
    } catch (const AppError& e) {
        host.appendLogLine(
            QStringLiteral("O arquivo do banco de dados não foi compactado e continua como "
                           "estava: %1.")
                .arg(e.message()));
    }
    // Back to the very database it was on, with the list it was opened with.
    con.Params = params;
    con.Params.replaceInStrings(QRegularExpression(QStringLiteral("^DATABASE=.*$"),
                                                   QRegularExpression::CaseInsensitiveOption),
                                QStringLiteral("DATABASE=") + database);
    con.Open();
}

}  // namespace patrimonio
