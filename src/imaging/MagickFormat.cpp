#include "imaging/Format.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::imaging {

namespace {
class MagickReader final : public FormatReader {
public:
    bool recognises(const FileHeader&) const override { return false; }
    int readInfo(const QString&, const FileHeader&, FileInfoRecord&) override { return kErrFormat; }
    int read(const QString&, const FileHeader&, const ReadOptions&, DecodedImage&,
             Progress&) override {
        return kErrFormat;
    }
};
}  // namespace

std::unique_ptr<FormatReader> makeMagickReader() { return std::make_unique<MagickReader>(); }

}  // namespace pixavant::imaging
