#include "SeedFiles.h"

#include <jpeglib.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Bytes.h"

namespace pixavant::fuzzseeds {

using testing::putLe16;
using testing::putLe32;

QByteArray os2V2Bitmap(int width, int height) {
    const int stride = (width * 3 + 3) / 4 * 4;
    QByteArray b("BM");
    putLe32(b, uint32_t(14 + 64 + stride * height));
    putLe32(b, 0);
    putLe32(b, 14 + 64);
    putLe32(b, 64);  // the OS/2 2.x header
    putLe32(b, uint32_t(width));
    putLe32(b, uint32_t(height));
    putLe16(b, 1);
    putLe16(b, 24);
    b += QByteArray(64 - 16, '\0');
    for (int y = 0; y < height; ++y) {
        QByteArray row;
        for (int x = 0; x < width; ++x)
            row.append(char(x * 255 / width)).append(char(y * 255 / height)).append(char(0x80));
        b += row + QByteArray(stride - row.size(), '\0');
    }
    return b;
}

QByteArray gifOnScreen(const QByteArray& gif, int screenWidth, int screenHeight, int left,
                       int top) {
    if (gif.size() < 13)
        return {};
    QByteArray out = gif;
    const auto set16 = [&out](qsizetype at, int value) {
        out[at] = char(value & 0xff);
        out[at + 1] = char((value >> 8) & 0xff);
    };
    set16(6, screenWidth);
    set16(8, screenHeight);
    const uint8_t flags = uint8_t(gif[10]);
    qsizetype at = 13 + ((flags & 0x80) ? 3 * (2 << (flags & 7)) : 0);
    while (at < gif.size()) {
        const uint8_t block = uint8_t(gif[at]);
        if (block == 0x2c) {  // the image descriptor
            set16(at + 1, left);
            set16(at + 3, top);
            return out;
        }
        if (block != 0x21)
            return {};
        at += 2;  // extension introducer and label, then data sub-blocks up to an empty one
        while (at < gif.size() && gif[at] != 0)
            at += 1 + uint8_t(gif[at]);
        ++at;
    }
    return {};
}

QByteArray placeableMetafile() {
    QByteArray records;
    const auto record = [&](uint32_t function, std::initializer_list<uint32_t> words) {
        putLe32(records, uint32_t(3 + words.size()));
        putLe16(records, function);
        for (const uint32_t w : words)
            putLe16(records, w);
    };
    record(0x020B, {0, 0});            // SetWindowOrg
    record(0x020C, {720, 1440});       // SetWindowExt: y, x
    record(0x02FC, {0, 0, 0, 0});      // CreateBrushIndirect: solid black
    record(0x012D, {0});               // SelectObject
    record(0x041B, {720, 720, 0, 0});  // Rectangle: bottom, right, top, left
    record(0x0000, {});                // end
    QByteArray header;
    for (const uint32_t v : {1u, 9u, 0x0300u})
        putLe16(header, v);
    putLe32(header, uint32_t((18 + records.size()) / 2));
    putLe16(header, 1);
    putLe32(header, 7);
    putLe16(header, 0);
    QByteArray placeable;
    putLe32(placeable, 0x9AC6CDD7);
    for (const uint32_t v : {0u, 0u, 0u, 1440u, 720u, 1440u})
        putLe16(placeable, v);
    putLe32(placeable, 0);
    uint16_t checksum = 0;
    for (int i = 0; i < 20; i += 2)
        checksum ^= uint16_t(uint8_t(placeable[i]) | uint8_t(placeable[i + 1]) << 8);
    putLe16(placeable, checksum);
    return placeable + header + records;
}

QByteArray epsFile(int width, int height, bool binaryHeader) {
    const QByteArray ps = QStringLiteral(
                              "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 %1 %2\n%%Pages: 1\n"
                              "%%EndComments\n1 1 1 setrgbcolor 0 0 %1 %2 rectfill\n"
                              "1 0 0 setrgbcolor %3 0 %3 %2 rectfill\nshowpage\n%%EOF\n")
                              .arg(width)
                              .arg(height)
                              .arg(width / 2)
                              .toLatin1();
    if (!binaryHeader)
        return ps;
    QByteArray header;
    putLe32(header, 0xC6D3D0C5);
    putLe32(header, 30);
    putLe32(header, uint32_t(ps.size()));
    header += QByteArray(16, '\0');
    putLe16(header, 0xffff);  // no checksum
    return header + ps;
}

QByteArray cmykJpeg(int width, int height) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    cinfo.write_Adobe_marker = TRUE;  // inverted CMYK, as Photoshop writes it
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(size_t(width) * 4);
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c)
                row[size_t(x) * 4 + size_t(c)] =
                    JSAMPLE(255 - (x * 60 + int(cinfo.next_scanline) * 40 + c * 50) % 256);
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray out(reinterpret_cast<const char*>(buffer), qsizetype(size));
    std::free(buffer);
    return out;
}

}  // namespace pixavant::fuzzseeds
