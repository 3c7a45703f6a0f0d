#include "imaging/Format.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::imaging {

namespace {
class PixavantReader final : public FormatReader {
  public:
    bool recognises(const FileHeader&) const override { return false; }
    int readInfo(const QString&, const FileHeader&, FileInfoRecord&) override { return kErrFormat; }
    int read(const QString&, const FileHeader&, const ReadOptions&, DecodedImage&,
             Progress&) override {
        return kErrFormat;
    }
};
class PixavantWriter final : public FormatWriter {
  public:
    bool writes(int) const override { return false; }
    int write(const QString&, const Raster&, const ImageMeta&, const SaveRequest&,
              Progress&) override {
        return kErrInvalidArgument;
    }
};
}  // namespace

std::unique_ptr<FormatReader> makePixavantReader() {
    return std::make_unique<PixavantReader>();
}
std::unique_ptr<FormatWriter> makePixavantWriter() {
    return std::make_unique<PixavantWriter>();
}

}  // namespace pixavant::imaging
