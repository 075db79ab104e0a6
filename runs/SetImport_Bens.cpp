// The asset step: PAT_BEM in pages of 100 in code order, each photo recompressed on the way.

#include <QBuffer>

#include "core/StatusConvention.h"
#include "db/TableNames.h"
#include "runs/AssetPhoto.h"
#include "runs/ImportRun.h"
#include "runs/PlainCopy.h"
#include "runs/WriteBack.h"

namespace patrimonio {

namespace {

constexpr int kPageRows = 100;

using columns::BEM_CODIGO;
using columns::BEM_IMAGEM;
using columns::BEM_IMAGEM_NOME;
using columns::BV_CODIGO;

const QString kStepStatus = QStringLiteral("Importando os bens.");
const QString kRowStatus = QStringLiteral("Importando Bem.");

QString pageSelect(int offset) {
    return QStringLiteral("SELECT FIRST 100 SKIP ") + QString::number(offset) +
           QStringLiteral(" * FROM PAT_BEM ORDER BY BEM_CODIGO ASC");
}

// The target only receives rows. Opened on no rows it still knows every column and its table,
// without reading back, page after page, the whole table the earlier pages have filled.
const QString kTargetSelect = QStringLiteral("SELECT * FROM PAT_BEM WHERE 1=0");

// Text of a source column read by name; empty when the source has no such column.
QString textByName(RecordSet& source, const QString& name) {
    const Field* field = source.FindField(name);
    return field ? field->AsString() : QString();
}

// The photo path of one row: the target's BEM_IMAGEM (found by name) receives the recompressed
// photo, or the photo as stored when it cannot be recompressed, which the log then names.
void carryPhoto(const Field& stored, RecordSet& source, RecordSet& target, RunHost& host,
                PhotoTally& photos) {
    host.setStatus(kWaitingForPhotoEngine);
    host.pumpMessages();

    const QString code = textByName(source, BEM_CODIGO);
    const AssetPhoto photo =
        carryAssetPhoto(stored, code, textByName(source, BEM_IMAGEM_NOME), host.qualityText());
    photos.bytesBefore += photo.storedBytes;
    if (photo.outcome == AssetPhoto::Outcome::None) {
        ++photos.none;
        return;
    }
    Field* into = target.FindField(BEM_IMAGEM);
    if (!into) {
        ++photos.lost;
        host.appendLogLine(
            QStringLiteral("Bem %1: a foto não foi importada: o banco a ser atualizado não tem a "
                           "coluna BEM_IMAGEM.")
                .arg(code));
        return;
    }
    QBuffer stream;
    stream.setData(photo.bytes);
    stream.open(QIODevice::ReadOnly);
    into->LoadFromStream(stream);
    photos.bytesAfter += photo.bytes.size();
    if (photo.outcome == AssetPhoto::Outcome::Recompressed) {
        ++photos.recompressed;
    } else {
        ++photos.kept;
        host.appendLogLine(keptPhotoLine(code, photo.reason));
    }
}

}  // namespace

void ImportRun::SetImport_Bens() {
    RecordSet& source = data_.CdsNovo;
    RecordSet& target = data_.CdsAtualiza;
    TableTally& tally = report_.table(tables::PAT_BEM);
    PhotoTally& photos = report_.photos;

    // Every run copies the whole table into the emptied target: an offset left by an earlier
    // run, or by a photo-only pass, must not skip the first assets.
    counters_.Total_Geral = 0;
    int fullPages = 0;
    for (;;) {
        openPhase(host_, kStepStatus);
        reopen(source, pageSelect(counters_.Total_Geral));
        reopen(target, kTargetSelect);

        source.First();
        const int rows = source.RecordCount();
        setRangeMaxFirst(host_, rows);
        counters_.Total = 0;
        tally.read += rows;
        bool pageFull = false;
        for (int j = 0; j < rows && !pageFull; ++j) {
            target.Append();
            bool photoSeen = false;
            const int columns = source.fieldCount();
            for (int i = 0; i < columns; ++i) {
                Field& from = source.Fields(i);
                const QString& name = from.FieldName();
                if (name == BEM_IMAGEM) {
                    photoSeen = true;
                    carryPhoto(from, source, target, host_, photos);
                } else if (name != BV_CODIGO) {
                    requireTargetColumn(target, from, tables::PAT_BEM, i);
                    // A null BLOB is known from the row as read; only a stored one is fetched.
                    target.Fields(i).setAsVariant(
                        from.isBlob() && from.isNull() ? Value() : from.AsVariant());
                }
            }
            ++photos.assets;
            if (!photoSeen) ++photos.none;
            host_.setStatus(kRowStatus);
            host_.pumpMessages();
            target.Post();
            source.Next();
            host_.setGaugeProgress(j);
            ++counters_.Total;
            if (counters_.Total == kPageRows) {
                writeBack(target, host_, tally);
                counters_.Total_Geral += counters_.Total;
                ++fullPages;
                pageFull = true;
                continue;
            }
            if (!source.Eof()) showRowCounter(host_, j);
            keepAlive(host_);
        }
        if (pageFull) continue;
        writeBack(target, host_, tally);
        closePhase(host_);
        break;
    }
    // Once more per full page, as operators have always seen it end; with refused rows already
    // dropped and listed, these find nothing left to write.
    for (int k = 0; k < fullPages; ++k) {
        writeBack(target, host_, tally);
        closePhase(host_);
    }
}

}  // namespace patrimonio
