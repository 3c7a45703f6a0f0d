#include <QFile>
#include <QFileInfo>

#include "imaging/FileNames.h"
#include "imaging/Format.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::imaging {

bool formatHoldsPages(int formatCode) {
    return formatCode == format::kTiff || formatCode == format::kTiffLzw ||
           formatCode == format::kTiffG3_1D || formatCode == format::kTiffG3_2D ||
           formatCode == format::kTiffG4;
}

Status FormatReader::pageCount(const QString&, const FileHeader&, int& pages) {
    pages = 1;
    return kSuccess;
}

Status FormatReader::readPage(const QString& path, const FileHeader& header,
                              const ReadOptions& options, int page, DecodedImage& image,
                              Progress& progress) {
    return page == 0 ? read(path, header, options, image, progress) : kErrInvalidArgument;
}

FormatRegistry& FormatRegistry::instance() {
    // Readers and writers may keep state from one call to the next (the PIXAVANT writer keeps its
    // encoded output): each thread gets its own, so conversions can run side by side.
    static thread_local FormatRegistry registry;
    return registry;
}

FormatRegistry::FormatRegistry() {
    // Readers with a signature of their own first; GraphicsMagick last, for everything else.
    readers_.push_back(makeJpegReader());
    readers_.push_back(makeTiffReader());
    readers_.push_back(makePixavantReader());
    readers_.push_back(makePngReader());
    readers_.push_back(makeHeifReader());
    readers_.push_back(makeWebpReader());
    readers_.push_back(makeTgaReader());
    readers_.push_back(makeMagickReader());
    writers_.push_back(makeJpegWriter());
    writers_.push_back(makeTiffWriter());
    writers_.push_back(makePixavantWriter());
}

FormatReader* FormatRegistry::readerFor(const FileHeader& header) const {
    for (const auto& reader : readers_)
        if (reader->recognises(header))
            return reader.get();
    return nullptr;
}

FormatWriter* FormatRegistry::writerFor(int formatCode) const {
    for (const auto& writer : writers_)
        if (writer->writes(formatCode))
            return writer.get();
    return nullptr;
}

Status readFileHeader(const QString& path, FileHeader& header, qint64& fileSize) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || !info.isFile())
        return kErrFileNotFound;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return kErrFileNotFound;
    fileSize = file.size();
    header.bytes = file.read(4096);
    // A descriptor's path (a name that is not UTF-8) has the suffix of the name it was opened by.
    header.suffix = QFileInfo(nameBehindPath(path)).suffix().toLower();
    return kSuccess;
}

}  // namespace pixavant::imaging
