// The asset step: PAT_BEM in pages of 100 in code order, each photo recompressed on the way.

#include <cstdint>
#include <exception>
#include <optional>
#include <vector>

#include "core/Errors.h"
#include "core/RunCounters.h"
#include "core/StatusConvention.h"
#include "db/RowCursor.h"
#include "db/TableNames.h"
#include "runs/PhotoCarrier.h"
#include "runs/QualityText.h"
#include "runs/RowCopy.h"
#include "runs/StepContext.h"
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

// Read once from start to end, a page at a time, in a snapshot of its own (db/RowCursor.h):
// the last page costs what the first does, and each asset comes exactly once.
const QString kAssetsInCodeOrder = QStringLiteral("SELECT * FROM PAT_BEM ORDER BY BEM_CODIGO ASC");

// The target only receives rows. Opened on no rows it still knows every column and its table,
// without reading back, page after page, the whole table the earlier pages have filled.
const QString kTargetSelect = QStringLiteral("SELECT * FROM PAT_BEM WHERE 1=0");

// Text of a source column read by name; empty when the source has no such column.
QString textByName(RecordSet& source, const QString& name) {
    const Field* field = source.findField(name);
    return field ? field->AsString() : QString();
}

// What one asset's photo adds to the report, held until the page's write-back tells whether
// the asset reached the target: the photo of a refused asset is neither counted nor logged.
struct PendingPhoto {
    enum class Kind { None, Recompressed, Kept, Lost };
    Kind kind = Kind::None;
    std::int64_t storedBytes = 0;
    std::int64_t writtenBytes = 0;
    QString logLine;  // said once the asset is in the target
};

// The reason of a failed load, for a log line: a refused value may be quoted in it, and the
// bytes of a photo read as text hold characters a log should not.
QString reasonOf(const std::exception& e) {
    const auto* app = dynamic_cast<const AppError*>(&e);
    QString reason = app ? app->message() : QString::fromLocal8Bit(e.what());
    for (QChar& c : reason) {
        if (!c.isPrint()) c = u'?';
    }
    return reason;
}

// The photo of one asset on its way from the source row to the target row.
struct AssetPhoto {
    enum class Outcome {
        None,          // no photo stored (null or empty): the target's photo stays null
        Recompressed,  // bytes hold the recompressed JPEG
        KeptAsStored,  // could not be recompressed: bytes hold the photo exactly as stored
    };
    Outcome outcome = Outcome::None;
    QByteArray bytes;   // what the target row receives (empty for None)
    QByteArray stored;  // the photo as stored
    QString reason;     // why a photo was kept as stored
};

// Carries the photo held in `stored` for the asset `code` whose photo is named `name`: a photo
// whose name has no extension stays as stored. Whatever stops the recompression keeps the
// photo as stored, with the reason.
AssetPhoto assetPhotoOf(const Field& stored, const QString& code, const QString& name,
                        const QString& qualityText, PhotoCarrier& photos) {
    using Carried = CarriedPhoto::Outcome;
    const CarriedPhoto carried = photos.carry(code, name, [&stored] {
        // A null photo is known from the row as read, without fetching anything.
        return stored.isNull() ? QByteArray() : stored.AsVariant().bytes();
    });
    AssetPhoto photo;
    if (carried.stored.isEmpty()) return photo;
    // From here on the stored bytes are what the target receives unless a recompressed JPEG
    // replaces them: whatever happened, the photo is not lost.
    photo.bytes = photo.stored = carried.stored;
    photo.outcome = AssetPhoto::Outcome::KeptAsStored;
    switch (carried.outcome) {
        case Carried::Recompressed:
            photo.bytes = *carried.recompressed;
            photo.outcome = AssetPhoto::Outcome::Recompressed;
            break;
        case Carried::NoPhoto:
            break;
        case Carried::FolderSeparator:
            photo.reason =
                QStringLiteral("o nome da foto \"%1\" contém um separador de pasta").arg(name);
            break;
        case Carried::BeforeFileFailed:
            photo.reason = QStringLiteral("o arquivo da foto original não pôde ser gravado (%1)")
                               .arg(carried.detail);
            break;
        case Carried::NoQuality:
            photo.reason =
                QStringLiteral("a qualidade \"%1\" não é um número inteiro").arg(qualityText);
            break;
        case Carried::NoExtension:
            photo.reason = QStringLiteral("o nome da foto \"%1\" não tem extensão").arg(name);
            break;
        case Carried::RecompressionFailed:
            photo.reason = QStringLiteral("a recompactação falhou (%1)").arg(carried.detail);
            break;
    }
    return photo;
}

// The log line of a photo kept as stored.
QString keptPhotoLine(const QString& code, const QString& reason) {
    return QStringLiteral("Bem %1: foto importada como estava, sem recompactar: %2.")
        .arg(code, reason);
}

// The photo path of one row: the target's BEM_IMAGEM (found by name) receives the recompressed
// photo, or the photo as stored when it cannot be recompressed or the target cannot take the
// recompressed one, which the log then names.
PendingPhoto carryAssetPhoto(const Field& stored, RecordSet& source, RecordSet& target,
                             RunHost& host, PhotoCarrier& photos, const QString& quality) {
    host.setStatus(kWaitingForPhotoEngine);
    host.pumpMessages();

    const QString code = textByName(source, BEM_CODIGO);
    const AssetPhoto photo =
        assetPhotoOf(stored, code, textByName(source, BEM_IMAGEM_NOME), quality, photos);
    if (photo.outcome == AssetPhoto::Outcome::Recompressed) {
        host.showPhoto(photos.lastPicture());
    } else if (photo.outcome == AssetPhoto::Outcome::KeptAsStored) {
        host.showPhoto({});
    }
    PendingPhoto pending;
    pending.storedBytes = photo.stored.size();
    if (photo.outcome == AssetPhoto::Outcome::None) return pending;
    Field* into = target.findField(BEM_IMAGEM);
    if (!into) {
        pending.kind = PendingPhoto::Kind::Lost;
        pending.logLine =
            QStringLiteral(
                "Bem %1: a foto não foi importada: o banco a ser atualizado não tem a "
                "coluna BEM_IMAGEM.")
                .arg(code);
        return pending;
    }
    QString keptBecause = photo.reason;
    if (photo.outcome == AssetPhoto::Outcome::Recompressed) {
        try {
            putIntoRow(*into, photo.bytes);
            pending.kind = PendingPhoto::Kind::Recompressed;
            pending.writtenBytes = photo.bytes.size();
            return pending;
        } catch (const std::exception& e) {
            keptBecause = QStringLiteral(
                              "o banco a ser atualizado não aceitou a foto "
                              "recompactada (%1)")
                              .arg(reasonOf(e));
        }
    }
    // The photo exactly as stored, as for any photo that cannot be recompressed.
    const QByteArray& asStored = photo.stored;
    try {
        putIntoRow(*into, asStored);
    } catch (const std::exception& e) {
        into->setAsVariant(Value());
        pending.kind = PendingPhoto::Kind::Lost;
        pending.logLine = QStringLiteral(
                              "Bem %1: a foto não foi importada: %2; a foto como "
                              "estava também não foi aceita (%3).")
                              .arg(code, keptBecause, reasonOf(e));
        return pending;
    }
    pending.kind = PendingPhoto::Kind::Kept;
    pending.writtenBytes = asStored.size();
    pending.logLine = keptPhotoLine(code, keptBecause);
    return pending;
}

// The facts of the assets that reached the target go into the report and the log.
void settlePhotos(std::vector<PendingPhoto>& pending, PhotoTally& photos, RunReport& host) {
    for (const PendingPhoto& p : pending) {
        ++photos.assets;
        photos.bytesBefore += p.storedBytes;
        photos.bytesAfter += p.writtenBytes;
        switch (p.kind) {
            case PendingPhoto::Kind::None:
                ++photos.none;
                break;
            case PendingPhoto::Kind::Recompressed:
                ++photos.recompressed;
                break;
            case PendingPhoto::Kind::Kept:
                ++photos.kept;
                break;
            case PendingPhoto::Kind::Lost:
                ++photos.lost;
                break;
        }
        if (!p.logLine.isEmpty()) host.appendLogLine(p.logLine);
    }
    pending.clear();
}

// The column that starts the photo path (named exactly so).
const Field* photoFieldOf(RecordSet& source) {
    const Field* photo = nullptr;
    for (int i = 0; i < source.fieldCount(); ++i)
        if (source.Fields(i).FieldName() == BEM_IMAGEM) photo = &source.Fields(i);
    return photo;
}

}  // namespace

void copyAssets(StepContext& step, const QString& photoQuality, int photoWorkers,
                RunCounters& counters) {
    RunHost& host = step.host;
    const StepClock clock(step.report, tables::PAT_BEM);
    RecordSet& source = step.reader;
    RecordSet& target = step.writer;
    TableTally& tally = step.report.table(tables::PAT_BEM);
    PhotoTally& photos = step.report.photos;
    // One entry per row posted and not yet written back, in the order of the change log.
    std::vector<PendingPhoto> pending;
    const auto writePage = [&] {
        writeBack(target, host, tally, [&pending](int changeIndex) {
            if (changeIndex >= 0 && changeIndex < static_cast<int>(pending.size()))
                pending.erase(pending.begin() + changeIndex);
        });
        settlePhotos(pending, photos, host);
    };

    // Every run counts its pages from the first asset: a count left by an earlier run, or by a
    // photo-only pass, is no part of this one.
    counters.Total_Geral = 0;
    int fullPages = 0;
    PhotoCarrier carrier(NameWithoutExtension::KeptAsStored, assetStepQuality(photoQuality),
                         photoWorkers, host);
    std::optional<RowCursor> assets;  // opened with the first page
    // A page is loaded and its first photos read ahead before the pause that opens it, so that
    // the workers recompress them while the run waits and the database is quiet; the pages
    // after the first are loaded while the one before is written back, their originals held
    // until the stop point after that write-back is passed. Whatever keeps a page from loading
    // is raised where it always was, after the pause.
    std::exception_ptr loadFailure;
    const auto loadPage = [&](bool holdOriginals) {
        try {
            if (!assets) assets.emplace(source.connection(), kAssetsInCodeOrder);
            source.openPage(*assets, kPageRows);
            source.First();
            carrier.startPage(source, photoFieldOf(source), source.findField(BEM_CODIGO),
                              source.findField(BEM_IMAGEM_NOME));
            if (holdOriginals) carrier.holdOriginals();
            carrier.prime();
        } catch (...) {
            loadFailure = std::current_exception();
        }
    };
    loadPage(false);
    for (;;) {
        openPhase(host, kStepStatus);
        if (loadFailure) std::rethrow_exception(loadFailure);
        // Emptied rather than opened again after the first page, the target keeps the statement
        // that carries a page to the server: preparing it costs more than writing the page.
        if (fullPages == 0) {
            reopen(target, kTargetSelect);
        } else {
            target.emptyDataSet();
        }

        const int rows = source.RecordCount();
        setRangeMaxFirst(host, rows);
        counters.Total = 0;
        tally.read += rows;
        bool pageFull = false;
        for (int j = 0; j < rows && !pageFull; ++j) {
            carrier.startRow(textByName(source, BEM_CODIGO));
            target.Append();
            PendingPhoto photo;
            copyRow(
                RecordRow(source), target, tables::PAT_BEM,
                [&](int i, const QString& name) {
                    const Field& from = source.Fields(i);
                    if (name == BEM_IMAGEM) {
                        // The photo goes its own way, at its place among the columns, into the
                        // target's BEM_IMAGEM found by name.
                        photo = carryAssetPhoto(from, source, target, host, carrier, photoQuality);
                        return ColumnRule::LeftOut;
                    }
                    if (name == BV_CODIGO) return ColumnRule::LeftOut;
                    // A null BLOB is known from the row as read; only a stored one is fetched.
                    return from.isBlob() && from.isNull() ? ColumnRule::Own : ColumnRule::Copied;
                },
                [](int) { return Value(); });
            host.setStatus(kRowStatus);
            host.pumpMessages();
            const std::int64_t rowPhotoBytes = photo.storedBytes;
            const int pendingBefore = target.pendingCount();
            target.Post();
            if (target.pendingCount() > pendingBefore) pending.push_back(std::move(photo));
            source.Next();
            host.setGaugeProgress(j);
            host.rowsDone(1, rowPhotoBytes);
            ++counters.Total;
            if (counters.Total == kPageRows) {
                // Every row of this page is posted: the source moves on to the next page.
                loadPage(true);
                writePage();
                step.stopPointAfterWriteBack(tally);
                carrier.releaseOriginals();
                counters.Total_Geral += counters.Total;
                ++fullPages;
                pageFull = true;
                continue;
            }
            if (!source.Eof()) showRowCounter(host, j);
            keepAlive(host);
        }
        if (pageFull) continue;
        writePage();
        step.stopPointAfterWriteBack(tally);
        closePhase(host);
        break;
    }
    // Once more per full page, as operators have always seen it end; with refused rows already
    // dropped and listed, these find nothing left to write.
    for (int k = 0; k < fullPages; ++k) {
        writePage();
        closePhase(host);
    }
}

}  // namespace patrimonio
