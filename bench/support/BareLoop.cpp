#include "BareLoop.h"

#include <QFile>
#include <QString>
#include <cstdlib>
#include <cstring>

#include "photos/JpegLib.h"
#include "photos/NearestSampling.h"

namespace patrimonio::bench {

std::vector<std::uint8_t> sampled(const std::vector<std::uint8_t>& rgb, int width, int height,
                                  int toWidth, int toHeight) {
    const std::vector<int> columns = nearestSourceMap(toWidth, width);
    const std::vector<int> rows = nearestSourceMap(toHeight, height);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(toWidth) * toHeight * 3);
    for (int y = 0; y < toHeight; ++y)
        for (int x = 0; x < toWidth; ++x)
            std::memcpy(&out[(std::size_t{0} + y * toWidth + x) * 3],
                        &rgb[(std::size_t{0} + rows[y] * std::size_t(width) + columns[x]) * 3], 3);
    return out;
}

QByteArray encode(const std::vector<std::uint8_t>& rgb, int width, int height,
                  const Encoding& encoding, const QByteArray& app1) {
    jpeg_compress_struct info{};
    jpeg_error_mgr err{};
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    info.comp_info[0].h_samp_factor = encoding.hLuma;
    info.comp_info[0].v_samp_factor = encoding.vLuma;
    jpeg_set_quality(&info, encoding.quality, TRUE);
    if (encoding.progressive) jpeg_simple_progression(&info);
    info.restart_in_rows = encoding.restartRows;
    info.write_JFIF_header = app1.isEmpty() ? TRUE : FALSE;
    jpeg_start_compress(&info, TRUE);
    if (!app1.isEmpty())
        jpeg_write_marker(&info, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(app1.constData()),
                          static_cast<unsigned int>(app1.size()));
    while (info.next_scanline < info.image_height) {
        auto* row = const_cast<JSAMPLE*>(&rgb[std::size_t{info.next_scanline} * width * 3]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(size));
    std::free(buffer);
    return bytes;
}

bool writeBytes(const std::string& path, const QByteArray& bytes) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray readBytes(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A loop over photos keeps its picture buffer: glibc maps every block above 32 MB afresh, and a
// new 36 MB buffer for each 12 MP photo would be faulted in page by page, which costs more CPU
// than the decoding and measures the kernel instead.
void bareLoop(const std::string& in, const std::string& out) {
    const QByteArray bytes = readBytes(in);
    jpeg_decompress_struct d{};
    jpeg_error_mgr derr{};
    d.err = jpeg_std_error(&derr);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(bytes.constData()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&d, TRUE);
    const bool progressive = jpeg_has_multiple_scans(&d);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    const int w = static_cast<int>(d.output_width);
    const int h = static_cast<int>(d.output_height);
    static std::vector<std::uint8_t> full;
    full.resize(static_cast<std::size_t>(w) * h * 3);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = &full[std::size_t{d.output_scanline} * w * 3];
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);

    const PictureSize box = boxSize(w, h);
    writeBytes(out, encode(sampled(full, w, h, box.width, box.height), box.width, box.height,
                           {60, 2, 2, progressive}));
}

}  // namespace patrimonio::bench
