#include "dialogs/jpegimage.h"

#include <jpeglib.h>

#include <csetjmp>
#include <cstdio>

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return: ours
// jumps back to the step that called into libjpeg, which then reports failure.
struct Decoder {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf failed{};
    char message[JMSG_LENGTH_MAX]{};
};

[[noreturn]] void jumpBack(j_common_ptr info) {
    Decoder& d = *static_cast<Decoder*>(info->client_data);
    (*info->err->format_message)(info, d.message);
    std::longjmp(d.failed, 1);
}

void ignoreWarning(j_common_ptr) {}

// Each step keeps only trivially destructible locals between setjmp and the jump.
bool start(Decoder& d, const QByteArray& data) {
    if (setjmp(d.failed)) return false;
    jpeg_create_decompress(&d.info);  // keeps err and client_data
    jpeg_mem_src(&d.info, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&d.info, TRUE);
    d.info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d.info);
    return d.info.output_components == 3;
}

bool readRows(Decoder& d, unsigned char* pixels, qsizetype stride) {
    if (setjmp(d.failed)) return false;
    while (d.info.output_scanline < d.info.output_height) {
        JSAMPROW row = pixels + stride * d.info.output_scanline;
        jpeg_read_scanlines(&d.info, &row, 1);
    }
    jpeg_finish_decompress(&d.info);
    return true;
}

}  // namespace

std::optional<QImage> decodeJpeg(const QByteArray& data, QString* error) {
    Decoder d;
    d.info.err = jpeg_std_error(&d.errors);
    d.errors.error_exit = jumpBack;
    d.errors.output_message = ignoreWarning;
    d.info.client_data = &d;

    std::optional<QImage> image;
    if (start(d, data)) {
        QImage pixels(static_cast<int>(d.info.output_width), static_cast<int>(d.info.output_height),
                      QImage::Format_RGB888);
        if (!pixels.isNull() && readRows(d, pixels.bits(), pixels.bytesPerLine()))
            image = std::move(pixels);
    }
    jpeg_destroy_decompress(&d.info);
    if (!image && error)
        *error = d.message[0] ? QString::fromLocal8Bit(d.message)
                              : QStringLiteral("неподдерживаемый формат изображения");
    return image;
}
