#include "JpegDecoder.h"

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace {

// libjpeg's own error handler ends the process; this one jumps back.
struct ErrorManager {
    jpeg_error_mgr standard;
    jmp_buf recover;
};

void RecoverFromError(j_common_ptr info)
{
    longjmp(reinterpret_cast<ErrorManager*>(info->err)->recover, 1);
}

void Quiet(j_common_ptr) {}

constexpr JDIMENSION MaxSide = 4096;

struct Pixels {
    JDIMENSION width = 0;
    JDIMENSION height = 0;
    std::vector<unsigned char> rgb;
};

// No C++ object lives in this frame, so the jump back skips no destructor;
// everything it fills is reached through `out`.
bool Decode(const unsigned char* data, size_t size, Pixels* out)
{
    jpeg_decompress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.standard);
    errors.standard.error_exit = RecoverFromError;
    errors.standard.output_message = Quiet;
    if (setjmp(errors.recover)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || info.image_width > MaxSide ||
        info.image_height > MaxSide) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    out->width = info.output_width;
    out->height = info.output_height;
    out->rgb.resize(size_t(out->width) * out->height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out->rgb.data() + size_t(info.output_scanline) * out->width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& data)
{
    Pixels pixels;
    if (data.isEmpty() ||
        !Decode(reinterpret_cast<const unsigned char*>(data.constData()), static_cast<size_t>(data.size()), &pixels))
        return QImage();
    const QImage view(pixels.rgb.data(), int(pixels.width), int(pixels.height), int(pixels.width) * 3,
                      QImage::Format_RGB888);
    return view.copy();
}
