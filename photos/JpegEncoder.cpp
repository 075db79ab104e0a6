#include "photos/JpegEncoder.h"

#include <new>

#include "photos/JpegErrorGuard.h"

namespace patrimonio {
namespace {

// Collects the codec's output in a QByteArray, doubling it as it fills.
struct ByteArrayDestination {
    jpeg_destination_mgr manager{};
    QByteArray bytes;

    ByteArrayDestination() {
        manager.init_destination = &ByteArrayDestination::init;
        manager.empty_output_buffer = &ByteArrayDestination::grow;
        manager.term_destination = &ByteArrayDestination::term;
    }
    static ByteArrayDestination& of(j_compress_ptr info) {
        return *static_cast<ByteArrayDestination*>(info->client_data);
    }
    static void init(j_compress_ptr info) {
        auto& self = of(info);
        if (!self.resize(info, 64 * 1024)) return;
        self.manager.next_output_byte = reinterpret_cast<JOCTET*>(self.bytes.data());
        self.manager.free_in_buffer = static_cast<std::size_t>(self.bytes.size());
    }
    static boolean grow(j_compress_ptr info) {
        auto& self = of(info);
        const qsizetype used = self.bytes.size();
        if (!self.resize(info, used * 2)) return FALSE;
        self.manager.next_output_byte = reinterpret_cast<JOCTET*>(self.bytes.data()) + used;
        self.manager.free_in_buffer = static_cast<std::size_t>(used);
        return TRUE;
    }
    static void term(j_compress_ptr info) {
        auto& self = of(info);
        self.bytes.resize(self.bytes.size() - static_cast<qsizetype>(self.manager.free_in_buffer));
    }
    // No exception may cross the codec: a failed allocation becomes the codec's own error.
    bool resize(j_compress_ptr info, qsizetype size) {
        try {
            bytes.resize(size);
            return true;
        } catch (const std::bad_alloc&) {
            info->err->msg_code = JERR_OUT_OF_MEMORY;
            (*info->err->error_exit)(reinterpret_cast<j_common_ptr>(info));
            return false;
        }
    }
};

// Owns one compression struct and its output.
class Compressor {
public:
    Compressor() {
        info_.err = guard_.manager();
        guard_.run("Cannot start the JPEG encoder", [this] { jpeg_create_compress(&info_); });
        created_ = true;
    }
    ~Compressor() {
        if (created_) jpeg_destroy_compress(&info_);
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    QByteArray encode(const Picture& picture, int quality, bool progressive) {
        guard_.run("Cannot encode the JPEG", [&] {
            info_.dest = &destination_.manager;
            info_.client_data = &destination_;
            info_.image_width = static_cast<JDIMENSION>(picture.width);
            info_.image_height = static_cast<JDIMENSION>(picture.height);
            info_.input_components = 3;
            info_.in_color_space = JCS_RGB;
            jpeg_set_defaults(&info_);
            jpeg_set_quality(&info_, quality, TRUE);
            if (progressive) jpeg_simple_progression(&info_);
            jpeg_start_compress(&info_, TRUE);
            while (info_.next_scanline < info_.image_height) {
                // The codec reads the rows without changing them.
                auto* row =
                    const_cast<JSAMPLE*>(picture.row(static_cast<int>(info_.next_scanline)));
                jpeg_write_scanlines(&info_, &row, 1);
            }
            jpeg_finish_compress(&info_);
        });
        return destination_.bytes;
    }

private:
    jpeg::ErrorGuard guard_;
    jpeg_compress_struct info_{};
    bool created_ = false;
    ByteArrayDestination destination_;
};

}  // namespace

QByteArray encodeJpeg(const Picture& picture, int quality, bool progressive) {
    Compressor compressor;
    return compressor.encode(picture, quality, progressive);
}

}  // namespace patrimonio
