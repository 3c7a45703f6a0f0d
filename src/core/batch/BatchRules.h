#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace pixavant::batch {

// Failure codes of the engine's own, besides the imaging status codes. The numbers for an
// arithmetic overflow and a division by zero are the classic runtime error numbers; both show
// "Compression error.".
inline constexpr int32_t kErrOverflow = 6;
inline constexpr int32_t kErrDivisionByZero = 11;
inline constexpr int32_t kErrInternal = 51;
// The output path names a file of the run's work list.
inline constexpr int32_t kErrReplacesSource = 20101;
// Two files of the work list would be written to one output file.
inline constexpr int32_t kErrOutputClash = 20102;

// The output name of a work-list file: everything from the first dot on is replaced by "." and
// `ext`, used exactly as given ("scan.2.tif" + "JPG" -> "scan.JPG", "README" -> "README.JPG").
QString outputFileName(const QString& fileName, const QString& ext);

// True for the formats whose files carry a resolution the engine trusts (the TIFF family);
// every other format counts as 72 dots per inch.
bool formatCarriesResolution(int32_t formatCode);

// The resolution of files that state none.
inline constexpr int16_t kDefaultDpi = 72;

// The source resolution for the size rules: the stated one for the TIFF family, 72 for every
// other format and for a TIFF that states none (no tag, no unit, or 0). Returns 0, or kErrOverflow
// when the stated resolution does not fit 16 bits.
int32_t sourceResolution(int32_t formatCode, int32_t xResolution, int16_t& dpi);

// Work-list files that would be written to one output file.
struct OutputClash {
    QString output;       // as given in `outputs`
    QStringList sources;  // as given in `sources`, in their order
};

// The clashes among `sources`, whose output paths are `outputs` (same length; paths are compared
// after cleaning, letter case significant), in the order of their first file.
std::vector<OutputClash> findOutputClashes(const QStringList& sources, const QStringList& outputs);

// The message that refuses a run with clashes, naming every file: "photo.gif and photo.tif would
// both be written to photo.JPG." and so on, then "Nothing was converted."
QString outputClashText(const std::vector<OutputClash>& clashes);

// x * num / den, the product in 64 bits, the quotient in floating point, rounded to the nearest
// integer with halves to even. Returns 0, kErrDivisionByZero or kErrOverflow (outside 16 bits).
int32_t scaleRounded(int64_t x, int64_t num, int64_t den, int16_t& result);

struct SizeRequest {
    int16_t sizeChoice = 0;  // 0 same as the original, 1 outWidth x outHeight
    int16_t outWidth = 0;    // 0: follow the aspect (or no size given)
    int16_t outHeight = 0;
    int16_t dpi = 0;  // output resolution
    int16_t sourceDpi = 0;
    int32_t imageWidth = 0;  // the source image
    int32_t imageHeight = 0;
};

struct ResizeTarget {
    bool resize = false;
    int16_t width = 0;
    int16_t height = 0;
};

// Decides whether and to what size a file is resized. Returns 0, kErrOverflow or
// kErrDivisionByZero.
int32_t resizeTarget(const SizeRequest& request, ResizeTarget& target);

// The message a failed run shows for `code`. `outputName` names the output file for
// kErrReplacesSource.
QString failureMessage(int32_t code, const QString& outputName = {});

// Why a file failed, beyond the message: the reason for `code` ("the file is damaged"), followed by
// the library's own words when it gave any ("...: Fax4Decode: Bad code word at line 7").
QString failureReason(int32_t code, const QString& libraryDetail = {});

// The message box's details for a failed file: "File: PATH", then "Reason: REASON".
QString failureDetails(const QString& path, const QString& reason);

// "3 files": the files left, the current one included.
QString filesLeftText(int count);

}  // namespace pixavant::batch
