#include "PngFixtures.h"

#include <zlib.h>

namespace pixavant::testing {

PngBuilder::PngBuilder(uint32_t width, uint32_t height, int bitDepth, int colourType, int interlace)
    : height_(height) {
    QByteArray ihdr = be32(width) + be32(height);
    ihdr += char(bitDepth);
    ihdr += char(colourType);
    ihdr += QByteArray(2, '\0');
    ihdr += char(interlace);
    bytes_ = QByteArray("\x89PNG\r\n\x1a\n", 8);
    chunk("IHDR", ihdr);
}

QByteArray PngBuilder::be32(uint32_t v) {
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(b, 4);
}

QByteArray PngBuilder::deflated(const QByteArray& raw) {
    uLongf size = compressBound(uLong(raw.size()));
    QByteArray out(qsizetype(size), '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size,
              reinterpret_cast<const Bytef*>(raw.constData()), uLong(raw.size()), Z_BEST_SPEED);
    out.resize(qsizetype(size));
    return out;
}

PngBuilder& PngBuilder::chunk(const char* type, const QByteArray& data) {
    const QByteArray body = QByteArray(type, 4) + data;
    bytes_ += be32(uint32_t(data.size())) + body;
    bytes_ += be32(
        uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))));
    return *this;
}

PngBuilder& PngBuilder::image(const QByteArray& rows) {
    const qsizetype rowBytes = rows.size() / qsizetype(height_);
    QByteArray raw;
    for (uint32_t y = 0; y < height_; ++y)
        raw += '\0' + rows.mid(qsizetype(y) * rowBytes, rowBytes);
    return chunk("IDAT", deflated(raw));
}

QByteArray PngBuilder::finish() {
    chunk("IEND", {});
    return bytes_;
}

}  // namespace pixavant::testing
