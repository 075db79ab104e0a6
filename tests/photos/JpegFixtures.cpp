#include "JpegFixtures.h"

#include <QFile>
#include <cmath>
#include <stdexcept>

#include "photos/JpegLib.h"

namespace patrimonio::test {

namespace {

// Test code lets the codec's default handler stop the program on a fatal error; the fixtures
// only feed it valid data.
struct Compress {
    jpeg_compress_struct info{};
    jpeg_error_mgr err{};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    Compress() {
        info.err = jpeg_std_error(&err);
        jpeg_create_compress(&info);
        jpeg_mem_dest(&info, &buffer, &size);
    }
    ~Compress() {
        jpeg_destroy_compress(&info);
        std::free(buffer);
    }
};

struct Decompress {
    jpeg_decompress_struct info{};
    jpeg_error_mgr err{};
    explicit Decompress(const QByteArray& jpeg) {
        info.err = jpeg_std_error(&err);
        err.emit_message = [](j_common_ptr, int) {};
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(jpeg.constData()),
                     static_cast<unsigned long>(jpeg.size()));
        jpeg_save_markers(&info, JPEG_COM, 0);
        jpeg_read_header(&info, TRUE);
    }
    ~Decompress() { jpeg_destroy_decompress(&info); }
};

int componentsOf(Layout layout) {
    switch (layout) {
        case Layout::Grey:
            return 1;
        case Layout::CmykAdobe:
        case Layout::CmykPlain:
        case Layout::YcckAdobe:
            return 4;
        default:
            return 3;
    }
}

void setSampling(jpeg_compress_struct& info, int h, int v) {
    info.comp_info[0].h_samp_factor = h;
    info.comp_info[0].v_samp_factor = v;
    for (int ci = 1; ci < info.num_components; ++ci)
        info.comp_info[ci].h_samp_factor = info.comp_info[ci].v_samp_factor = 1;
}

}  // namespace

PixelSource texture() {
    return [](int x, int y, std::uint8_t* px) {
        std::uint32_t h = static_cast<std::uint32_t>(x) * 0x9E3779B1u ^
                          static_cast<std::uint32_t>(y) * 0x85EBCA77u;
        h ^= h >> 15;
        h *= 0x2C1B3C6Du;
        h ^= h >> 13;
        const int noise = static_cast<int>(h % 48) - 24;
        const double wave = 40 * std::sin(x * 0.05 + y * 0.013) + 25 * std::sin(x * y * 1e-4);
        const int values[3] = {static_cast<int>(x % 256 * 0.6 + wave) + noise + 40,
                               static_cast<int>(y % 256 * 0.6 - wave) + noise + 90,
                               static_cast<int>((x + y) % 200 + wave / 2) + noise};
        for (int i = 0; i < 4; ++i) {
            const int v = values[i % 3] + (i == 3 ? 60 : 0);
            px[i] = static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
    };
}

namespace {

// Encodes the picture with the codec's defaults for its layout; progressive with the codec's
// simple script, or with `script` when one is given.
QByteArray encode(const JpegShape& shape, const PixelSource& pixels,
                  const std::vector<jpeg_scan_info>* script) {
    Compress c;
    const int components = componentsOf(shape.layout);
    c.info.image_width = static_cast<JDIMENSION>(shape.width);
    c.info.image_height = static_cast<JDIMENSION>(shape.height);
    c.info.input_components = components;
    c.info.in_color_space =
        components == 1 ? JCS_GRAYSCALE : (components == 4 ? JCS_CMYK : JCS_RGB);
    jpeg_set_defaults(&c.info);
    switch (shape.layout) {
        case Layout::Ycc422:
            setSampling(c.info, 2, 1);
            break;
        case Layout::Ycc444:
            setSampling(c.info, 1, 1);
            break;
        case Layout::Ycc440:
            setSampling(c.info, 1, 2);
            break;
        case Layout::CmykPlain:
            c.info.write_Adobe_marker = FALSE;
            break;
        case Layout::YcckAdobe:
            jpeg_set_colorspace(&c.info, JCS_YCCK);
            break;
        default:
            break;
    }
    jpeg_set_quality(&c.info, shape.quality, TRUE);
    if (script != nullptr) {
        c.info.scan_info = script->data();
        c.info.num_scans = static_cast<int>(script->size());
    } else if (shape.progressive) {
        jpeg_simple_progression(&c.info);
    }
    c.info.restart_in_rows = shape.restartRows;
    jpeg_start_compress(&c.info, TRUE);
    const bool invert = shape.layout == Layout::CmykAdobe || shape.layout == Layout::YcckAdobe;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(shape.width) * components);
    std::uint8_t px[4];
    while (c.info.next_scanline < c.info.image_height) {
        const int y = static_cast<int>(c.info.next_scanline);
        for (int x = 0; x < shape.width; ++x) {
            pixels(x, y, px);
            for (int i = 0; i < components; ++i) {
                const std::uint8_t v = px[i];
                row[static_cast<std::size_t>(x) * components + i] =
                    invert ? static_cast<std::uint8_t>(255 - v) : v;
            }
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c.info, &r, 1);
    }
    jpeg_finish_compress(&c.info);
    return QByteArray(reinterpret_cast<const char*>(c.buffer), static_cast<qsizetype>(c.size));
}

}  // namespace

QByteArray makeJpeg(const JpegShape& shape, const PixelSource& pixels) {
    return encode(shape, pixels, nullptr);
}

QByteArray makeJpegWithScript(const JpegShape& shape, const std::vector<ScanStep>& script) {
    std::vector<jpeg_scan_info> scans;
    for (const ScanStep& step : script) {
        jpeg_scan_info scan{};
        scan.comps_in_scan = static_cast<int>(step.components.size());
        for (std::size_t i = 0; i < step.components.size(); ++i)
            scan.component_index[i] = step.components[i];
        scan.Ss = step.ss;
        scan.Se = step.se;
        scan.Ah = step.ah;
        scan.Al = step.al;
        scans.push_back(scan);
    }
    return encode(shape, texture(), &scans);
}

QByteArray makeJpegWithManyScans(int width, int height, int components) {
    constexpr int maxAl = 10;  // deepest successive approximation the codec accepts
    std::vector<ScanStep> script;
    for (int band = 0; band < DCTSIZE2 * components; ++band) {
        for (int ah = 0; ah <= maxAl; ++ah) {
            const int coefficient = band % DCTSIZE2;
            script.push_back({{band / DCTSIZE2},
                              coefficient,
                              coefficient,
                              ah == 0 ? 0 : maxAl - ah + 1,
                              maxAl - ah});
        }
    }
    return makeJpegWithScript(
        {width, height, components == 1 ? Layout::Grey : Layout::Ycc444, true}, script);
}

QByteArray withScansRepeated(const QByteArray& jpeg, int copies) {
    // The scans, each with the tables written before it, run from the end of the frame header
    // to the end-of-image marker.
    qsizetype i = 2;
    while (i + 3 < jpeg.size()) {
        const auto marker = static_cast<unsigned char>(jpeg[i + 1]);
        const int length =
            static_cast<unsigned char>(jpeg[i + 2]) * 256 + static_cast<unsigned char>(jpeg[i + 3]);
        i += 2 + length;
        if (marker >= 0xC0 && marker <= 0xC2) break;
    }
    if (i >= jpeg.size() || !jpeg.endsWith("\xFF\xD9")) throw std::runtime_error("no scans");
    const QByteArray scans = jpeg.mid(i, jpeg.size() - 2 - i);
    QByteArray out = jpeg.left(i);
    out.reserve(i + scans.size() * copies + 2);
    for (int k = 0; k < copies; ++k) out += scans;
    return out + QByteArray("\xFF\xD9", 2);
}

int scansReadByCodec(const QByteArray& jpeg) {
    Decompress d(jpeg);
    // A multi-scan decode reads every scan up to the end of the image before the first row.
    jpeg_start_decompress(&d.info);
    return d.info.input_scan_number;
}

Picture referenceDecode(const QByteArray& jpeg) {
    Decompress d(jpeg);
    const bool grey = d.info.jpeg_color_space == JCS_GRAYSCALE;
    d.info.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&d.info);
    Picture full(static_cast<int>(d.info.output_width), static_cast<int>(d.info.output_height));
    std::vector<std::uint8_t> line(static_cast<std::size_t>(full.width) * 3);
    while (d.info.output_scanline < d.info.output_height) {
        const int y = static_cast<int>(d.info.output_scanline);
        JSAMPROW r = line.data();
        jpeg_read_scanlines(&d.info, &r, 1);
        for (int x = 0; x < full.width; ++x)
            for (int i = 0; i < 3; ++i) full.row(y)[x * 3 + i] = line[grey ? x : x * 3 + i];
    }
    jpeg_finish_decompress(&d.info);
    return full;
}

Picture referenceSample(const Picture& full, int width, int height) {
    Picture out(width, height);
    for (int y = 0; y < height; ++y) {
        const auto sy = static_cast<int>(std::floor((y + 0.5) * full.height / height));
        for (int x = 0; x < width; ++x) {
            const auto sx = static_cast<int>(std::floor((x + 0.5) * full.width / width));
            for (int i = 0; i < 3; ++i) out.row(y)[x * 3 + i] = full.row(sy)[sx * 3 + i];
        }
    }
    return out;
}

JpegFacts factsOf(const QByteArray& jpeg) {
    Decompress d(jpeg);
    JpegFacts f;
    f.width = static_cast<int>(d.info.image_width);
    f.height = static_cast<int>(d.info.image_height);
    f.components = d.info.num_components;
    f.colourSpace = d.info.jpeg_color_space;
    f.jfif = d.info.saw_JFIF_marker;
    f.progressive = d.info.progressive_mode;
    f.multipleScans = jpeg_has_multiple_scans(&d.info);
    for (int ci = 0; ci < f.components && ci < 3; ++ci) {
        f.hSampling[ci] = d.info.comp_info[ci].h_samp_factor;
        f.vSampling[ci] = d.info.comp_info[ci].v_samp_factor;
    }
    for (const JQUANT_TBL* table : d.info.quant_tbl_ptrs) {
        if (table == nullptr) continue;
        f.quantTables.emplace_back(table->quantval, table->quantval + DCTSIZE2);
    }
    // The frame type is the marker that carries the frame header.
    for (qsizetype i = 2; i + 3 < jpeg.size();) {
        const auto marker = static_cast<unsigned char>(jpeg[i + 1]);
        if (static_cast<unsigned char>(jpeg[i]) != 0xFF) break;
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
            marker != 0xCC) {
            f.baseline = marker == 0xC0;
            break;
        }
        const int length =
            static_cast<unsigned char>(jpeg[i + 2]) * 256 + static_cast<unsigned char>(jpeg[i + 3]);
        i += 2 + length;
    }
    return f;
}

std::vector<std::vector<int>> expectedQuantTables(int quality) {
    Compress c;
    c.info.in_color_space = JCS_RGB;
    c.info.input_components = 3;
    jpeg_set_defaults(&c.info);
    jpeg_set_quality(&c.info, quality, TRUE);
    std::vector<std::vector<int>> tables;
    for (const JQUANT_TBL* table : c.info.quant_tbl_ptrs) {
        if (table == nullptr) continue;
        std::vector<int> natural(DCTSIZE2);
        // The compressor keeps its tables in natural order too.
        for (int k = 0; k < DCTSIZE2; ++k) natural[k] = table->quantval[k];
        tables.push_back(natural);
    }
    return tables;
}

QByteArray withFrameSize(QByteArray jpeg, int width, int height) {
    for (qsizetype i = 0; i + 8 < jpeg.size(); ++i) {
        const auto marker = static_cast<unsigned char>(jpeg[i + 1]);
        if (static_cast<unsigned char>(jpeg[i]) == 0xFF && (marker == 0xC0 || marker == 0xC2)) {
            jpeg[i + 5] = static_cast<char>(height >> 8);
            jpeg[i + 6] = static_cast<char>(height & 0xFF);
            jpeg[i + 7] = static_cast<char>(width >> 8);
            jpeg[i + 8] = static_cast<char>(width & 0xFF);
            return jpeg;
        }
    }
    throw std::runtime_error("no frame header");
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) throw std::runtime_error("cannot read test file");
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write test file");
}

}  // namespace patrimonio::test
