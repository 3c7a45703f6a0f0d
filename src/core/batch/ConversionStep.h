#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

#include "imaging/FileInfo.h"
#include "imaging/ImagingControl.h"
#include "imaging/ImagingStatus.h"
#include "imaging/Verification.h"
#include "settings/CompressionSettings.h"

namespace pixavant::batch {

// Where a page's output resolution comes from.
enum class ResolutionRule {
    // The request's dpi; a TIFF counts by the resolution it states (72 where it states none),
    // every other file as 72 dpi. The window's rule.
    Settings,
    // Each page keeps the resolution it states, 72 where it states none: nothing is resampled but
    // by the size rules and for square pixels (the command line without --dpi).
    FileOwn,
};

// What a conversion learns of its source before it converts it.
struct SourceFacts {
    imaging::FileInfoRecord info;
    int16_t sourceDpi = 72;  // what the size rules count the file as
    int64_t bytes = 0;
    int32_t pages = 1;  // the pages a conversion goes through
};

// One file to convert, and how.
struct ConversionRequest {
    QString sourcePath;
    SourceFacts source;  // from ConversionStep::examine()
    // One path per page, or one for a file that holds every page (outputFileNames()). In memory
    // the paths only tell the outputs apart.
    QStringList outputPaths;
    bool toMemory = false;
    ResolutionRule resolutionRule = ResolutionRule::Settings;
    int16_t dpi = 72;  // the output resolution by the Settings rule
    int16_t bitsPerPixel = 0;
    bool gray = false;
    int16_t sizeChoice = 0;  // the size rules (SizeRequest)
    int16_t outWidth = 0;
    int16_t outHeight = 0;
    int16_t formatCode = 0;
    int16_t qualityFactor = 0;
    int effort = 0;  // 0: the format's own
    bool keepMetadata = true;
    bool verify = false;
};

// The request of the choices of a settings record for `sourcePath` (outputs and source facts not
// filled in).
ConversionRequest requestFor(const QString& sourcePath, const CompressionSettings& settings);

// What a save of a page prepared for `request` writes, at `dpi`.
imaging::SaveOptions saveOptionsFor(const ConversionRequest& request, int16_t dpi);

// One file a conversion wrote.
struct WrittenOutput {
    QString path;
    int page = 0;                        // of a file per page: the page, from 1; 0 otherwise
    imaging::Verification verification;  // of a file holding pages: its worst page's
};

struct ConversionResult {
    imaging::Status status = imaging::kSuccess;
    QString libraryDetail;  // the library's own words on the failure, when it gave any
    int failedPage = 0;     // of a file of several pages: the page that failed, from 1
    int pages = 1;
    std::vector<WrittenOutput> written;  // in page order
    std::vector<QByteArray> bytes;       // in memory: each output's, in the order of `written`
    imaging::Verification verification;  // the last save's check
    QStringList notes;  // what of the source's metadata could not be carried, and why

    bool ok() const { return status == imaging::kSuccess; }
    // Why the file failed: the code's reason and the library's words, after the page
    // ("page 2 of 3: ...") for a file of several pages.
    QString reason() const;
    qint64 outputBytes() const;
};

// Converts one file, page after page, each through the same path: load at the depth asked, gray,
// the resolution and size rules, square pixels, the save. Outputs appear together after the last
// page, or not at all. Widget-free; one thread at a time, but stop() from any thread.
class ConversionStep {
  public:
    enum class Phase { Load, Resize, Save };
    // Progress of a page: 0 to 100 % of loading and resizing (their shares planned from the
    // file's size), then 0 to 100 % of saving; `page` from 0.
    using ProgressHandler = std::function<void(int16_t percent, int page, bool saving)>;
    // Called just before a page is saved, with the resolution it is saved at.
    using SavingHandler = std::function<void(int page, int16_t dpi)>;

    ConversionStep();
    ConversionStep(const ConversionStep&) = delete;
    ConversionStep& operator=(const ConversionStep&) = delete;

    // The file information, its resolution for the size rules, its size and its pages, in that
    // order; 0 or the code of the first that fails (libraryDetail() then says why).
    imaging::Status examine(const QString& path, SourceFacts& facts);
    ConversionResult run(const ConversionRequest& request);

    // The path each page takes, for a caller that keeps a prepared page between saves: prepares
    // page `page` in control() up to the save (loadPage(), then shapePage()), giving the
    // resolution it is saved at.
    imaging::Status preparePage(const ConversionRequest& request, int page, int16_t& outputDpi);
    // Loads page `page` at the depth asked.
    imaging::Status loadPage(const ConversionRequest& request, int page);
    // Gray, the resolution, the size rules and square pixels, on the page loaded.
    imaging::Status shapePage(const ConversionRequest& request, int16_t& outputDpi);
    // Saves the prepared page to `outputPath`, or into `bytes` when the request goes to memory
    // and no document is open.
    imaging::Status savePage(const ConversionRequest& request, const QString& outputPath,
                             int16_t dpi, QByteArray* bytes = nullptr);

    void onProgress(ProgressHandler handler) { progress_ = std::move(handler); }
    void onSaving(SavingHandler handler) { saving_ = std::move(handler); }
    // While `flag` is set, the conversion stops at its next progress point (kErrCancelled) and
    // nothing of it is written. nullptr: none.
    void setCancelFlag(const std::atomic<bool>* flag);
    bool stopped() const { return cancel_ != nullptr && cancel_->load(); }

    imaging::ImagingControl& control() { return control_; }
    const QString& libraryDetail() const { return libraryDetail_; }

  private:
    struct PageResolution {
        int16_t sourceDpi = 72;
        int16_t outputDpi = 72;
        int32_t squareHeight = 0;
    };

    imaging::Status runPages(const ConversionRequest& request, ConversionResult& result);
    imaging::Status pageResolution(const ConversionRequest& request, int32_t height,
                                   PageResolution& resolution) const;
    imaging::Status resizeForPage(const ConversionRequest& request, int32_t width, int32_t height,
                                  const PageResolution& resolution);
    void planLoadShare(const ConversionRequest& request);
    void addOutput(ConversionResult& result, const QString& path, int page) const;
    void onControlProgress(int16_t percent);

    imaging::ImagingControl control_;
    const std::atomic<bool>* cancel_ = nullptr;
    ProgressHandler progress_;
    SavingHandler saving_;
    Phase phase_ = Phase::Load;
    int page_ = 0;
    double loadShare_ = 1.0;  // of loading and resizing, when a resize follows
    QString libraryDetail_;
};

}  // namespace pixavant::batch
