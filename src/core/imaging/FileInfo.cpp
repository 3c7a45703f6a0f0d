#include "imaging/FileInfo.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <limits>

#include "imaging/ErrorDetail.h"
#include "imaging/FileNames.h"
#include "imaging/Format.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::imaging {

int32_t readInt32(const uint8_t* p) {
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                   uint32_t(p[3]) << 24);
}

void writeInt32(uint8_t* p, int32_t value) {
    const auto v = uint32_t(value);
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

FileInfoBlock toBlock(const FileInfoRecord& record) {
    namespace off = fileinfo_offset;
    FileInfoBlock block{};
    writeInt32(&block[off::kFormat], record.Format);
    writeInt32(&block[off::kWidth], record.Width);
    writeInt32(&block[off::kHeight], record.Height);
    writeInt32(&block[off::kBitsPerPixel], record.BitsPerPixel);
    writeInt32(&block[off::kSizeDisk], record.SizeDisk);
    writeInt32(&block[off::kSizeMem], record.SizeMem);
    const QByteArray name = record.Compression.toLatin1().left(off::kCompressionLength);
    std::memcpy(&block[off::kCompression], name.constData(), size_t(name.size()));
    writeInt32(&block[off::kXResolution], record.XResolution);
    writeInt32(&block[off::kYResolution], record.YResolution);
    writeInt32(&block[off::kTotalPages], record.TotalPages);
    return block;
}

FileInfoRecord fromBlock(const FileInfoBlock& block) {
    namespace off = fileinfo_offset;
    FileInfoRecord record;
    record.Format = readInt32(&block[off::kFormat]);
    record.Width = readInt32(&block[off::kWidth]);
    record.Height = readInt32(&block[off::kHeight]);
    record.BitsPerPixel = readInt32(&block[off::kBitsPerPixel]);
    record.SizeDisk = readInt32(&block[off::kSizeDisk]);
    record.SizeMem = readInt32(&block[off::kSizeMem]);
    const auto* name = reinterpret_cast<const char*>(&block[off::kCompression]);
    // The name fills all 20 bytes when it is 20 characters long: no NUL then.
    record.Compression =
        QString::fromLatin1(name, qsizetype(strnlen(name, off::kCompressionLength)));
    record.XResolution = readInt32(&block[off::kXResolution]);
    record.YResolution = readInt32(&block[off::kYResolution]);
    record.TotalPages = readInt32(&block[off::kTotalPages]);
    return record;
}

int64_t imageDataSize(int64_t width, int64_t height, int bitsPerPixel) {
    if (width <= 0 || height <= 0 || bitsPerPixel <= 0)
        return 0;
    const int64_t stride = (width * bitsPerPixel + 31) / 32 * 4;
    return stride * height;
}

static int32_t saturate32(int64_t value) {
    return int32_t(std::clamp<int64_t>(value, 0, std::numeric_limits<int32_t>::max()));
}

int32_t L_FileInfo(const char* path, uint8_t* block, int32_t flags) {
    (void)flags;
    clearErrorDetail();
    if (path == nullptr || block == nullptr)
        return kErrInvalidArgument;
    const QString filePath = QFile::decodeName(path);
    FileHeader header;
    qint64 fileSize = 0;
    if (const int status = readFileHeader(filePath, header, fileSize); status != kSuccess)
        return status;
    FormatReader* reader = FormatRegistry::instance().readerFor(header);
    if (reader == nullptr)
        return kErrFormat;

    FileInfoRecord found;
    found.TotalPages = 1;
    if (const int status = reader->readInfo(filePath, header, found); status != kSuccess)
        return status;
    found.SizeDisk = saturate32(fileSize);
    if (found.SizeMem == 0)
        found.SizeMem = saturate32(imageDataSize(found.Width, found.Height, found.BitsPerPixel));
    const FileInfoBlock filled = toBlock(found);
    std::memcpy(block, filled.data(), kFileInfoBlockSize);
    return 1;
}

Status readFileInfo(const QString& path, FileInfoRecord& record) {
    FileInfoBlock block = toBlock(record);
    const ReadablePath readable(path);
    const int32_t result =
        L_FileInfo(QFile::encodeName(readable.path()).constData(), block.data(), 1);
    // L_FileInfo keeps its callers' convention, 1 for a filled block.
    if (result != 1)
        return Status(result);
    record = fromBlock(block);
    return kSuccess;
}

namespace {
// One block per thread: engines that run side by side never see each other's options.
thread_local ExtFileOptionBlock extOptions{};
}  // namespace

int32_t L_GetExtFileOption(uint8_t* block) {
    if (block == nullptr)
        return kErrInvalidArgument;
    std::memcpy(block, extOptions.data(), kExtFileOptionSize);
    return kSuccess;
}

int32_t L_SetExtFileOption(const uint8_t* block) {
    if (block == nullptr)
        return kErrInvalidArgument;
    std::memcpy(extOptions.data(), block, kExtFileOptionSize);
    return kSuccess;
}

}  // namespace pixavant::imaging
