#pragma once

#include <QString>
#include <array>
#include <cstdint>

#include "imaging/ImagingStatus.h"

namespace pixavant::imaging {

// What the file layer reports about an image file without decoding its pixels.
struct FileInfoRecord {
    int32_t Format = 0;        // format code (see FormatCodes.h)
    int32_t Width = 0;         // pixels
    int32_t Height = 0;        // pixels
    int32_t BitsPerPixel = 0;  // as stored in the file
    int32_t SizeDisk = 0;      // file size in bytes (saturated at 2^31 - 1)
    int32_t SizeMem = 0;       // bytes of the uncompressed image, rows padded to 4 bytes
    QString Compression;       // at most 20 single-byte characters
    int32_t XResolution = 0;   // dots per inch, 0 when the file states none
    int32_t YResolution = 0;
    int32_t TotalPages = 0;
};

// The 1132-byte little-endian block the file layer fills. Offsets are fixed: callers of other
// languages read it directly.
inline constexpr size_t kFileInfoBlockSize = 1132;
using FileInfoBlock = std::array<uint8_t, kFileInfoBlockSize>;

namespace fileinfo_offset {
inline constexpr size_t kFormat = 0;
inline constexpr size_t kWidth = 20;
inline constexpr size_t kHeight = 24;
inline constexpr size_t kBitsPerPixel = 28;
inline constexpr size_t kSizeDisk = 32;
inline constexpr size_t kSizeMem = 36;
inline constexpr size_t kCompression = 40;
inline constexpr size_t kCompressionLength = 20;
inline constexpr size_t kXResolution = 76;
inline constexpr size_t kYResolution = 80;
inline constexpr size_t kTotalPages = 84;
}  // namespace fileinfo_offset

FileInfoBlock toBlock(const FileInfoRecord& record);
FileInfoRecord fromBlock(const FileInfoBlock& block);

// Fills `block` with the information of the image file at `path` (flags: 1). Returns 1 when the
// block was filled, otherwise a failure code (ImagingStatus.h) and the block is left unchanged.
int32_t L_FileInfo(const char* path, uint8_t* block, int32_t flags);

// The record-level form used by the program: converts around L_FileInfo. Returns kSuccess when
// `record` was filled, otherwise the failure code and the record is left unchanged.
Status readFileInfo(const QString& path, FileInfoRecord& record);

// Bytes of an uncompressed image with rows padded to a multiple of 4 bytes.
int64_t imageDataSize(int64_t width, int64_t height, int bitsPerPixel);

// Extended save options: a 1076-byte block whose first two little-endian 32-bit fields are the
// horizontal and vertical resolution, in dots per inch, of the saves that follow. Each thread has
// a block of its own. The block is kept for callers that set it; a save itself is told its
// resolution by its SaveOptions.
inline constexpr size_t kExtFileOptionSize = 1076;
using ExtFileOptionBlock = std::array<uint8_t, kExtFileOptionSize>;

int32_t L_GetExtFileOption(uint8_t* block);
int32_t L_SetExtFileOption(const uint8_t* block);

struct SaveResolution {
    int32_t x = 0;
    int32_t y = 0;
};

int32_t readInt32(const uint8_t* p);
void writeInt32(uint8_t* p, int32_t value);

}  // namespace pixavant::imaging
