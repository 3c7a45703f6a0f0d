#include "imaging/Format.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::imaging {

namespace {
class JpegReader final : public FormatReader {
  public:
    bool recognises(const FileHeader&) const override { return false; }
    int readInfo(const QString&, const FileHeader&, FileInfoRecord&) override { return kErrFormat; }
    int read(const QString&, const FileHeader&, const ReadOptions&, DecodedImage&,
             Progress&) override {
        return kErrFormat;
    }
};
class JpegWriter final : public FormatWriter {
  public:
    bool writes(int) const override { return false; }
    int write(const QString&, const Raster&, const ImageMeta&, const SaveRequest&,
              Progress&) override {
        return kErrInvalidArgument;
    }
};
}  // namespace

std::unique_ptr<FormatReader> makeJpegReader() {
    return std::make_unique<JpegReader>();
}
std::unique_ptr<FormatWriter> makeJpegWriter() {
    return std::make_unique<JpegWriter>();
}

}  // namespace pixavant::imaging
