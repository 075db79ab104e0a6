#include "runs/PhotoPass.h"

#include <exception>
#include <optional>
#include <utility>

#include "core/Amounts.h"
#include "core/AppPaths.h"
#include "core/Errors.h"
#include "core/Iif.h"
#include "core/LogView.h"
#include "core/StatusConvention.h"
#include "core/Text.h"
#include "db/DatabaseSize.h"
#include "db/TableNames.h"
#include "photos/JpegRecompressor.h"
#include "photos/PhotoFiles.h"
#include "runs/PhotoBatches.h"
#include "runs/PhotoCarrier.h"
#include "runs/QualityText.h"
#include "runs/RunPlan.h"

namespace patrimonio {

const QString kPhotoPassNoConnection =
    QStringLiteral("Você não setou a conexão com um dos bancos, por favor, verifique isso.");
const QString kPhotoPassLoading = QStringLiteral("Carga das imagens, 50 por vêz.");
const QString kPhotoPassWorking = QStringLiteral("Motor em processamento.");

namespace {

using columns::BEM_CODIGO;
using columns::BEM_IMAGEM;
using columns::BEM_IMAGEM_NOME;

QString invalidSkipListAtStart(const QString& text) {
    return QStringLiteral(
               "Os códigos dos bens a serem ignorados devem ser números inteiros separados por "
               "vírgulas, por exemplo 9,30,105,1010. O texto \"%1\" não é assim; corrija-o e "
               "execute novamente.")
        .arg(text);
}

QString stoppedLine(int batches, int rows, int processed, int failed) {
    return QStringLiteral(
               "Tratamento das imagens interrompido pelo operador depois do lote %1 (%2 linhas "
               "percorridas): %3 imagens gravadas, %4 não processadas.")
        .arg(batches)
        .arg(rows)
        .arg(processed)
        .arg(failed);
}

// The database file's size, when the server can say it.
std::optional<std::int64_t> fileBytesNow(Connection& connection) {
    try {
        return databaseFileBytes(connection);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

QString photoPassSummary(int processed, int failed) {
    return QStringLiteral("Imagens tratadas com sucesso.") + QStringLiteral("\r\n") +
           QStringLiteral("Total de imagens processadas ") + QString::number(processed) +
           QStringLiteral("\r\n") + QStringLiteral("Total de imagens não processadas ") +
           QString::number(failed) + QStringLiteral("\r\n\r") + QStringLiteral("\r\n\r") +
           QStringLiteral("By Quorvelin");
}

PhotoPass::PhotoPass(DataModule& data, RunCounters& counters, RunHost& host, int photoWorkers)
    : data_(data), counters_(counters), host_(host), photoWorkers_(photoWorkers) {}

PhotoPass::~PhotoPass() = default;

PhotoPassEnd PhotoPass::run() {
    host_.setStatus(kWaitingForPhotoEngine);
    // The pass works on the database of Con_Novo and on nothing else; a connection whose
    // attachment was lost still belongs to its database and connects again at first use.
    const Connection& con = data_.Con_Novo;
    if (!con.Connected() && con.databaseString().isEmpty()) {
        host_.showMessage(kPhotoPassNoConnection);
        return PhotoPassEnd::NotStarted;
    }
    // Read once: what the operator types during the pass changes nothing in it.
    const QString skipList = host_.skipListText();
    if (!isValidSkipList(skipList)) {
        host_.showMessage(invalidSkipListAtStart(skipList));
        return PhotoPassEnd::NotStarted;
    }
    const int Compress = photoPassQuality(host_.qualityText());
    // What the pass will do, for the whole run's progress: counted without reading a photo.
    host_.planned(planPhotoPass(data_.Con_Novo, skipList).work());
    bytesBefore_ = bytesAfter_ = pendingBefore_ = pendingAfter_ = 0;
    fileBytesAtStart_ = fileBytesNow(data_.Con_Novo);

    // Every pass covers the whole table and ends with its own summary.
    counters_.Total_Geral = 0;
    counters_.Erros = 0;
    counters_.JaMostrouMensagemTerminou = false;
    processed_ = 0;
    photos_ = std::make_unique<PhotoCarrier>(NameWithoutExtension::GivenAName, Compress,
                                             photoWorkers_, host_);
    const struct Release {
        std::unique_ptr<PhotoCarrier>& photos;
        ~Release() { photos.reset(); }
    } release{photos_};

    // One cursor for the whole pass: every row comes once, in code order, whatever another
    // program changes in the table meanwhile.
    PhotoBatches batches;
    batches_ = &batches;
    for (int batchCount = 1;; ++batchCount) {
        const bool full = runBatch(skipList);
        // Every photo of the batch has had its own write-back: nothing is half written here.
        if (host_.stopRequested()) {
            logGain();
            host_.appendLogLine(stoppedLine(batchCount, counters_.Total_Geral + counters_.Total,
                                            processed_, counters_.Erros));
            return PhotoPassEnd::Stopped;
        }
        if (full) {
            counters_.Total_Geral += kPhotoBatchSize;
            continue;
        }
        logGain();
        // The line ends here: codes logged by a later pass start a line of their own.
        host_.appendLogLine(QString());
        finish();
        return PhotoPassEnd::Finished;
    }
}

bool PhotoPass::runBatch(const QString& skipList) {
    RecordSet& CdsNovo = data_.CdsNovo;
    // The batch is loaded and its first photos read ahead before the pause that opens it, so
    // that the workers recompress them while the pass waits and the database is quiet.
    // Whatever keeps the batch from loading is raised where it always was, after the pause.
    std::exception_ptr loadFailure;
    try {
        batches_->loadNext(CdsNovo, skipList);
        photos_->startPage(CdsNovo, CdsNovo.findField(BEM_IMAGEM), CdsNovo.findField(BEM_CODIGO),
                           CdsNovo.findField(BEM_IMAGEM_NOME));
        photos_->prime();
    } catch (...) {
        loadFailure = std::current_exception();
    }
    openPhase(host_, kPhotoPassLoading);
    host_.setStatus(kPhotoPassWorking);
    if (loadFailure) std::rethrow_exception(loadFailure);

    ensureFolder(beforeFolder());
    ensureFolder(afterFolder());

    int i = 1;
    setRangeMaxFirst(host_, CdsNovo.RecordCount());
    counters_.Total = 0;

    while (!CdsNovo.Eof() && counters_.Total < kPhotoBatchSize) {
        photos_->startRow(CdsNovo.FieldByName(BEM_CODIGO).AsString());
        if (CdsNovo.FieldByName(BEM_IMAGEM).BlobSize() > 0) {
            handleRowWithPhoto(i);
        } else {
            handleRowWithoutPhoto(i);
        }
    }
    return counters_.Total == kPhotoBatchSize;
}

void PhotoPass::handleRowWithoutPhoto(int& i) {
    ++i;
    host_.setGaugeProgress(i);
    host_.rowsDone(1);
    ++counters_.Total;
    if (counters_.Total < kPhotoBatchSize) {
        data_.CdsNovo.Next();
        if (!data_.CdsNovo.Eof()) showRowCounter(host_, i);
    }
    keepAlive(host_);
}

void PhotoPass::handleRowWithPhoto(int& i) {
    RecordSet& CdsNovo = data_.CdsNovo;
    const QString code = CdsNovo.FieldByName(BEM_CODIGO).AsString();
    const QString name = CdsNovo.FieldByName(BEM_IMAGEM_NOME).AsString();

    QString reason;  // said in the log beside the code, for a failure the operator must act on
    std::optional<QByteArray> Img;
    QString StrNewImageName;
    std::int64_t storedBytes = 0;
    try {
        // A name without an extension gets one made for it; the files and the row take it.
        const CarriedPhoto photo = photos_->carry(
            code, name, [&CdsNovo] { return CdsNovo.FieldByName(BEM_IMAGEM).AsVariant().bytes(); });
        storedBytes = photo.stored.size();
        StrNewImageName = photo.madeName;
        if (photo.outcome == CarriedPhoto::Outcome::BeforeFileFailed) {
            reason =
                QStringLiteral("o arquivo da foto original não pôde ser gravado: ") + photo.detail;
        }
        Img = photo.recompressed;
    } catch (const std::exception&) {
        // The stored photo could not even be read: the row keeps it.
        Img.reset();
    }
    bool Erro = !Img;

    // The stored photo is replaced only by the row's own write-back: nothing is cleared first.
    if (Img && !putIntoCurrentRow(*Img, StrNewImageName)) Erro = true;
    pendingBefore_ = Erro ? 0 : storedBytes;
    pendingAfter_ = Erro ? 0 : Img->size();
    host_.showPhoto(Erro ? PhotoView{} : photos_->lastPicture());
    if (Erro) {
        ++counters_.Erros;
        logFailure(reason.isEmpty() ? code : code + QStringLiteral(" (") + reason + u')');
    }
    Img.reset();

    ++i;
    host_.setGaugeProgress(i);
    host_.rowsDone(1, storedBytes);
    CdsNovo.Next();
    ++counters_.Total;
    if (!CdsNovo.Eof()) showRowCounter(host_, i);
    keepAlive(host_);
    writeBack(code);
}

bool PhotoPass::putIntoCurrentRow(const QByteArray& Img, const QString& StrNewImageName) {
    RecordSet& CdsNovo = data_.CdsNovo;
    CdsNovo.Edit();
    try {
        Field* name =
            trimmed(StrNewImageName).isEmpty() ? nullptr : &CdsNovo.FieldByName(BEM_IMAGEM_NOME);
        putIntoRow(CdsNovo.FieldByName(BEM_IMAGEM), Img, name, StrNewImageName);
    } catch (const std::exception&) {
        CdsNovo.cancel();
        return false;
    }
    CdsNovo.Post();
    return true;
}

void PhotoPass::writeBack(const QString& code) {
    RecordSet& CdsNovo = data_.CdsNovo;
    const int pending = CdsNovo.pendingCount();
    const std::int64_t before = std::exchange(pendingBefore_, 0);
    const std::int64_t after = std::exchange(pendingAfter_, 0);
    if (CdsNovo.ApplyUpdates(0) == 0) {
        processed_ += pending;
        if (pending > 0) {
            bytesBefore_ += before;
            bytesAfter_ += after;
        }
        return;
    }
    // The database refused the row: its stored photo stays as it was. Report it like a failed
    // photo and drop the change, so that the rows after it are still written.
    const std::optional<Refusal>& refusal = CdsNovo.lastRefusal();
    const QString reason = refusal ? refusal->message.simplified() : QString();
    const int index = refusal && refusal->changeIndex >= 0 ? refusal->changeIndex : 0;
    const QString refusedCode =
        refusal && !refusal->firstColumn.isNull() ? refusal->firstColumn.toString() : code;
    CdsNovo.dropPendingChange(index);
    ++counters_.Erros;
    logFailure(reason.isEmpty() ? refusedCode : refusedCode + QStringLiteral(" (") + reason + u')');
}

void PhotoPass::logFailure(const QString& entry) {
    appendLogCode(host_, entry);
    host_.saveLog();
}

void PhotoPass::logGain() {
    QString line = QStringLiteral("Fotos gravadas: %1 antes, %2 depois.")
                       .arg(sizeText(bytesBefore_), sizeText(bytesAfter_));
    const std::optional<std::int64_t> fileBytes = fileBytesNow(data_.Con_Novo);
    if (fileBytesAtStart_ && fileBytes) {
        line += QStringLiteral(" Arquivo do banco: %1 no início, %2 agora")
                    .arg(sizeText(*fileBytesAtStart_), sizeText(*fileBytes));
        // The server keeps the pages the old photos freed inside the file, for its later use.
        if (*fileBytes >= *fileBytesAtStart_) {
            line += QStringLiteral(
                " (o Firebird guarda no arquivo as páginas que as fotos antigas liberaram; o "
                "arquivo só fica menor quando é compactado)");
        }
        line += u'.';
    }
    host_.appendLogLine(line);
}

void PhotoPass::finish() {
    if (counters_.JaMostrouMensagemTerminou) return;
    counters_.JaMostrouMensagemTerminou = true;
    host_.showMessage(photoPassSummary(processed_, counters_.Erros));
}

}  // namespace patrimonio
