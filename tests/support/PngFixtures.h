#pragma once

#include <QByteArray>
#include <cstdint>

namespace pixavant::testing {

// A PNG built chunk by chunk, for files no encoder writes (lying lengths, animation chunks, colour
// keys in every colour type). Multi-byte values are big-endian, as PNG stores them.
class PngBuilder {
  public:
    PngBuilder(uint32_t width, uint32_t height, int bitDepth, int colourType, int interlace = 0);

    static QByteArray be32(uint32_t v);
    static QByteArray deflated(const QByteArray& raw);

    // A chunk of the type with `data`, its length and checksum as they should be.
    PngBuilder& chunk(const char* type, const QByteArray& data);
    // The rows (without filter bytes) as one IDAT chunk, each row filtered with "none".
    PngBuilder& image(const QByteArray& rows);
    // The file, ended by IEND.
    QByteArray finish();

  private:
    uint32_t height_;
    QByteArray bytes_;
};

}  // namespace pixavant::testing
