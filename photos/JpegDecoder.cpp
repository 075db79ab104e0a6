#include "photos/JpegDecoder.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "core/Errors.h"
#include "photos/ColourConversion.h"
#include "photos/JpegErrorGuard.h"
#include "photos/NearestSampling.h"

namespace patrimonio {
namespace {

// Ceiling on the codec's own buffers. A progressive photo keeps all its coefficients (about 3
// bytes a pixel at 4:2:0, 36 MB for 12 MP), so this admits progressive photos up to about
// 170 MP, while a forged header fails at once with the codec's out-of-memory error instead of
// taking the workstation's memory. Sequential photos need only a few rows of buffers.
constexpr long maxCodecMemory = 512L * 1024 * 1024;

// The blocks of one component, each scan covering it goes over all of them.
long long blocksOf(const jpeg_component_info& c) {
    return static_cast<long long>(c.width_in_blocks) * c.height_in_blocks;
}

// The codec's buffer for every coefficient of the picture, as a multi-scan decode allocates it.
long long coefficientBytes(const jpeg_decompress_struct& info) {
    long long bytes = 0;
    for (int ci = 0; ci < info.num_components; ++ci)
        bytes += blocksOf(info.comp_info[ci]) * static_cast<long long>(sizeof(JBLOCK));
    return bytes;
}

// Counts the scans of a multi-scan photo and the blocks they make the codec go over, from the
// markers alone and before any coefficient memory is taken. The walk reads the bytes as the
// codec does: a segment is skipped by its length, the coded data of a scan runs to the next
// marker other than a restart (0xFF 0x00 is a coded 0xFF, 0xFF bytes before a marker are
// fill), stray bytes between segments are passed over, and nothing after the end of the image
// is read. A scan naming a component the frame lacks is counted as the largest one (the codec
// stops on it anyway).
ScanWork walkScans(const QByteArray& jpeg, const jpeg_decompress_struct& info) {
    long long largest = 0;
    for (int ci = 0; ci < info.num_components; ++ci)
        largest = std::max(largest, blocksOf(info.comp_info[ci]));
    const auto blocksOfSelector = [&](int selector) {
        for (int ci = 0; ci < info.num_components; ++ci)
            if (info.comp_info[ci].component_id == selector) return blocksOf(info.comp_info[ci]);
        return largest;
    };

    const auto* bytes = reinterpret_cast<const unsigned char*>(jpeg.constData());
    const auto size = static_cast<std::size_t>(jpeg.size());
    ScanWork work;
    std::size_t at = 0;
    while (at < size) {
        const void* ff = std::memchr(bytes + at, 0xFF, size - at);
        if (ff == nullptr) break;
        at = static_cast<std::size_t>(static_cast<const unsigned char*>(ff) - bytes) + 1;
        while (at < size && bytes[at] == 0xFF) ++at;
        if (at >= size) break;
        const unsigned char marker = bytes[at++];
        const bool restart = marker >= 0xD0 && marker <= 0xD7;
        // A coded 0xFF, a restart, the start of the image and TEM carry no length.
        if (marker == 0x00 || restart || marker == 0xD8 || marker == 0x01) continue;
        if (marker == 0xD9 || size - at < 2) break;  // the end of the image
        const std::size_t length = std::size_t{bytes[at]} << 8 | bytes[at + 1];
        if (marker == 0xDA) {  // start of scan: its component count, then two bytes each
            ++work.scans;
            const int count = at + 2 < size ? bytes[at + 2] : 0;
            for (int k = 0; k < count; ++k) {
                const std::size_t selector = at + 3 + std::size_t{2} * k;
                work.blocks += selector < size ? blocksOfSelector(bytes[selector]) : largest;
            }
        }
        at += std::max<std::size_t>(length, 2);
    }
    return work;
}

[[noreturn]] void refuseScans(const ScanWork& work, const jpeg_decompress_struct& info) {
    if (work.scans > maxScans)
        throw AppError(
            QStringLiteral("The photo has too many scans to decode (%1)").arg(work.scans));
    throw AppError(
        QStringLiteral("The photo is too costly to decode (%1 scans over %2 x %3 pixels)")
            .arg(work.scans)
            .arg(info.image_width)
            .arg(info.image_height));
}

bool overBudget(const ScanWork& work) {
    return work.scans > maxScans || work.blocks > maxScanBlocks;
}

// Everything refused after the header and before any pixel or coefficient memory is taken.
// Returns the scans' work of a multi-scan photo; a single-scan photo is decoded in one pass
// over its blocks, and the codec reads nothing after that scan.
ScanWork refuseBeforeDecoding(const QByteArray& jpeg, const jpeg_decompress_struct& info,
                              bool multipleScans) {
    const long long width = info.image_width;
    const long long height = info.image_height;
    // A photo of several scans keeps all its coefficients until the last one: refuse it here,
    // by its size, rather than let the codec stop on its memory cap with its own words.
    if (width * height > maxDecodedPixels ||
        (multipleScans && coefficientBytes(info) > maxCodecMemory))
        throw AppError(QStringLiteral("The photo is too large to decode (%1 x %2 pixels)")
                           .arg(width)
                           .arg(height));
    if (!multipleScans) return {};
    const ScanWork work = walkScans(jpeg, info);
    if (overBudget(work)) refuseScans(work, info);
    return work;
}

// Owns one decompression struct; destroyed on every path, errors included.
class Decompressor {
public:
    Decompressor() {
        info_.err = guard_.manager();
        guard_.run("Cannot start the JPEG decoder", [this] { jpeg_create_decompress(&info_); });
        created_ = true;
        info_.mem->max_memory_to_use = maxCodecMemory;
        progress_.manager.progress_monitor = &Decompressor::onProgress;
        info_.progress = &progress_.manager;
    }
    ~Decompressor() {
        if (created_) jpeg_destroy_decompress(&info_);
    }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    jpeg_decompress_struct& info() { return info_; }
    jpeg::ErrorGuard& guard() { return guard_; }

    void readHeader(const QByteArray& jpeg) {
        guard_.run("Not a readable JPEG", [&] {
            jpeg_mem_src(&info_, reinterpret_cast<const unsigned char*>(jpeg.constData()),
                         static_cast<unsigned long>(jpeg.size()));
            jpeg_read_header(&info_, TRUE);
        });
    }

    void start() {
        guard_.run("Cannot decode the JPEG", [this] { jpeg_start_decompress(&info_); });
    }

private:
    // The codec calls the monitor at least once per scan before decoding it. The walk over the
    // markers has refused a costly photo already; this counts again what the codec really
    // reads, so that the bound holds by the codec's own reading of the file.
    struct Progress {
        jpeg_progress_mgr manager{};  // first member: the callback finds the rest from it
        int scan = 0;
        ScanWork work;
    };
    static_assert(std::is_standard_layout_v<Progress>, "the callback casts the manager");

    static void onProgress(j_common_ptr common) {
        const auto* info = reinterpret_cast<j_decompress_ptr>(common);
        auto* progress = reinterpret_cast<Progress*>(common->progress);
        if (info->input_scan_number == progress->scan) return;
        progress->scan = info->input_scan_number;
        ++progress->work.scans;
        for (int i = 0; i < info->comps_in_scan; ++i)
            progress->work.blocks += blocksOf(*info->cur_comp_info[i]);
        if (overBudget(progress->work))
            jpeg::ErrorGuard::stop(common, "the photo's scans are too costly to decode");
    }

    jpeg::ErrorGuard guard_;
    jpeg_decompress_struct info_{};
    Progress progress_;
    bool created_ = false;
};

// Which source row and column every pixel of the box takes.
struct Sampling {
    std::vector<int> columns;
    std::vector<int> rows;
};

const YccToRgb& yccToRgb() {
    static const YccToRgb table;
    return table;
}

// The standard camera layouts (YCbCr with chroma at 4:4:4, 4:2:2 or 4:2:0) can be taken as the
// codec's planes before its upsampling and colour conversion; those two steps are then done
// here for the kept pixels only, with the codec's own arithmetic. Other layouts go by rows.
bool planesRouteFits(const jpeg_decompress_struct& info) {
#ifndef LIBJPEG_TURBO_VERSION
    // Other libjpeg builds (IJG 7 and later) may upsample chroma through scaled IDCTs instead of
    // the triangle filter reproduced here; only the codec's own rows are then exact.
    (void)info;
    return false;
#else
    if (info.jpeg_color_space != JCS_YCbCr || info.num_components != 3) return false;
    if (!info.do_fancy_upsampling) return false;
    const jpeg_component_info* comp = info.comp_info;
    for (int ci = 1; ci < 3; ++ci)
        if (comp[ci].h_samp_factor != 1 || comp[ci].v_samp_factor != 1) return false;
    const int h = comp[0].h_samp_factor;
    const int v = comp[0].v_samp_factor;
    const bool layout = (h == 1 && v == 1) || (h == 2 && v == 1) || (h == 2 && v == 2);
    // The codec interpolates chroma only for rows wider than two samples.
    return layout && (h == 1 || comp[1].downsampled_width > 2);
#endif
}

// One kept column: the luma sample, its chroma sample and, when chroma is halved horizontally,
// the neighbouring chroma sample the codec's triangle filter blends in (left for even columns,
// right for odd ones, the edge sample repeated at the picture's borders).
struct PlaneColumn {
    int luma;
    int chroma;
    int neighbour;
    bool even;
};

void sampleFromPlanes(Decompressor& dec, const Sampling& sampling, Picture& out) {
    jpeg_decompress_struct& info = dec.info();
    info.raw_data_out = TRUE;
    dec.start();

    const jpeg_component_info* comp = info.comp_info;
    const int hY = comp[0].h_samp_factor;
    const int vY = comp[0].v_samp_factor;
    const int lumaBandRows = vY * DCTSIZE;  // luma rows per band (one iMCU row)
    constexpr int chromaBandRows = DCTSIZE;
    const int bands = static_cast<int>(info.total_iMCU_rows);
    const int chromaWidth = static_cast<int>(comp[1].downsampled_width);
    const int chromaHeight = static_cast<int>(comp[1].downsampled_height);

    // The last three bands: with 4:2:0 a row's chroma context reaches one chroma row into the
    // band above and one into the band below.
    constexpr int ringSize = 3;
    std::array<std::vector<std::uint8_t>, 3> storage;
    std::array<std::array<std::vector<JSAMPROW>, 3>, ringSize> rows;  // [slot][component]
    for (int ci = 0; ci < 3; ++ci) {
        const std::size_t stride = std::size_t{comp[ci].width_in_blocks} * DCTSIZE;
        const int bandRows = comp[ci].v_samp_factor * DCTSIZE;
        storage[ci].resize(stride * bandRows * ringSize);
        for (int slot = 0; slot < ringSize; ++slot)
            for (int r = 0; r < bandRows; ++r)
                rows[slot][ci].push_back(storage[ci].data() +
                                         (std::size_t{0} + slot * bandRows + r) * stride);
    }
    int loaded = 0;
    const auto readBand = [&] {
        const int slot = loaded % ringSize;
        JSAMPARRAY planes[3] = {rows[slot][0].data(), rows[slot][1].data(), rows[slot][2].data()};
        const auto maxLines = static_cast<JDIMENSION>(lumaBandRows);
        dec.guard().run("Cannot decode the JPEG",
                        [&] { jpeg_read_raw_data(&info, planes, maxLines); });
        ++loaded;
    };
    const auto lumaRow = [&](int y) {
        return rows[(y / lumaBandRows) % ringSize][0][y % lumaBandRows];
    };
    const auto chromaRow = [&](int ci, int y) {
        y = std::clamp(y, 0, chromaHeight - 1);
        return rows[(y / chromaBandRows) % ringSize][ci][y % chromaBandRows];
    };

    std::vector<PlaneColumn> columns;
    columns.reserve(sampling.columns.size());
    for (const int sx : sampling.columns) {
        const int chroma = hY == 2 ? sx / 2 : sx;
        const bool even = sx % 2 == 0;
        const int neighbour = std::clamp(even ? chroma - 1 : chroma + 1, 0, chromaWidth - 1);
        columns.push_back({sx, chroma, neighbour, even});
    }

    const YccToRgb& ycc = yccToRgb();
    const int ahead = vY == 2 ? 1 : 0;  // 4:2:0 may need the first chroma row of the next band
    const std::size_t rowBytes = std::size_t{3} * out.width;
    int previousSource = -1;
    for (int y = 0; y < out.height; ++y) {
        const int sy = sampling.rows[y];
        std::uint8_t* dst = out.row(y);
        if (sy == previousSource) {  // enlarging repeats the row just made
            std::memcpy(dst, out.row(y - 1), rowBytes);
            continue;
        }
        previousSource = sy;
        while (loaded <= std::min(sy / lumaBandRows + ahead, bands - 1)) readBand();

        const JSAMPROW luma = lumaRow(sy);
        if (hY == 1) {  // 4:4:4, no interpolation
            const JSAMPROW cb = chromaRow(1, sy);
            const JSAMPROW cr = chromaRow(2, sy);
            for (const PlaneColumn& c : columns) {
                ycc.convert(luma[c.luma], cb[c.chroma], cr[c.chroma], dst);
                dst += 3;
            }
        } else if (vY == 1) {  // 4:2:2: 3/4 of the nearer sample, 1/4 of the other
            const JSAMPROW cb = chromaRow(1, sy);
            const JSAMPROW cr = chromaRow(2, sy);
            for (const PlaneColumn& c : columns) {
                const int bias = c.even ? 1 : 2;
                const int b = (3 * cb[c.chroma] + cb[c.neighbour] + bias) >> 2;
                const int r = (3 * cr[c.chroma] + cr[c.neighbour] + bias) >> 2;
                ycc.convert(luma[c.luma], b, r, dst);
                dst += 3;
            }
        } else {  // 4:2:0: the same weights in both directions (9/16, 3/16, 3/16, 1/16)
            const int nearRow = sy / 2;
            const int farRow = sy % 2 == 0 ? nearRow - 1 : nearRow + 1;
            const JSAMPROW cbNear = chromaRow(1, nearRow);
            const JSAMPROW cbFar = chromaRow(1, farRow);
            const JSAMPROW crNear = chromaRow(2, nearRow);
            const JSAMPROW crFar = chromaRow(2, farRow);
            for (const PlaneColumn& c : columns) {
                const int bias = c.even ? 8 : 7;
                const int b = (3 * (3 * cbNear[c.chroma] + cbFar[c.chroma]) +
                               (3 * cbNear[c.neighbour] + cbFar[c.neighbour]) + bias) >>
                              4;
                const int r = (3 * (3 * crNear[c.chroma] + crFar[c.chroma]) +
                               (3 * crNear[c.neighbour] + crFar[c.neighbour]) + bias) >>
                              4;
                ycc.convert(luma[c.luma], b, r, dst);
                dst += 3;
            }
        }
    }
}

// Asks the codec for finished rows (RGB, grey or CMYK) and skips the rows the sampling drops.
void sampleFromScanlines(Decompressor& dec, const Sampling& sampling, Picture& out) {
    jpeg_decompress_struct& info = dec.info();
    switch (info.jpeg_color_space) {
        case JCS_GRAYSCALE:
            info.out_color_space = JCS_GRAYSCALE;
            break;
        case JCS_CMYK:
        case JCS_YCCK:  // the codec turns YCCK into CMYK; RGB is made here
            info.out_color_space = JCS_CMYK;
            break;
        default:
            info.out_color_space = JCS_RGB;
            break;
    }
    dec.start();

    const int components = info.output_components;
    const bool invertedInks = info.saw_Adobe_marker;
    const int bandRows = info.max_v_samp_factor * DCTSIZE;
    std::vector<std::uint8_t> line(std::size_t{info.output_width} * components);
    const std::size_t rowBytes = std::size_t{3} * out.width;
    int previousSource = -1;
    for (int y = 0; y < out.height; ++y) {
        const int sy = sampling.rows[y];
        std::uint8_t* dst = out.row(y);
        if (sy == previousSource) {
            std::memcpy(dst, out.row(y - 1), rowBytes);
            continue;
        }
        previousSource = sy;
        dec.guard().run("Cannot decode the JPEG", [&] {
            // Whole bands are skipped, the rows before sy in its own band read: the codec's
            // skipping inside a band does not give the same pixels for every layout.
            const int bandStart = sy - sy % bandRows;
            const auto current = static_cast<int>(info.output_scanline);
            if (bandStart > current)
                jpeg_skip_scanlines(&info, static_cast<JDIMENSION>(bandStart - current));
            JSAMPROW target = line.data();
            while (static_cast<int>(info.output_scanline) <= sy)
                if (jpeg_read_scanlines(&info, &target, 1) == 0) break;
        });
        for (const int sx : sampling.columns) {
            const std::uint8_t* src = line.data() + std::size_t{0} + sx * components;
            if (components == 1) {
                dst[0] = dst[1] = dst[2] = src[0];
            } else if (components == 4) {
                cmykToRgb(src, invertedInks, dst);
            } else {
                std::memcpy(dst, src, 3);
            }
            dst += 3;
        }
    }
}

}  // namespace

ScanWork checkDecodingCost(const QByteArray& jpeg) {
    Decompressor dec;
    dec.readHeader(jpeg);
    return refuseBeforeDecoding(jpeg, dec.info(), jpeg_has_multiple_scans(&dec.info()) != FALSE);
}

SampledPhoto decodeSampled(const QByteArray& jpeg, DecodeRoute route) {
    Decompressor dec;
    dec.readHeader(jpeg);
    jpeg_decompress_struct& info = dec.info();
    SampledPhoto photo;
    photo.multipleScans = jpeg_has_multiple_scans(&info) != FALSE;
    refuseBeforeDecoding(jpeg, info, photo.multipleScans);

    const int width = static_cast<int>(info.image_width);
    const int height = static_cast<int>(info.image_height);
    const PictureSize box = boxSize(width, height);
    const Sampling sampling{nearestSourceMap(box.width, width),
                            nearestSourceMap(box.height, height)};
    photo.picture = Picture(box.width, box.height);
    if (route == DecodeRoute::Fastest && planesRouteFits(info))
        sampleFromPlanes(dec, sampling, photo.picture);
    else
        sampleFromScanlines(dec, sampling, photo.picture);
    return photo;
}

}  // namespace patrimonio
