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
// A page file of a multi-page source would replace the output of another file of the run.
inline constexpr int32_t kErrPageClash = 20103;

// Where an output's name ends the source's name: at its first dot (the program's own rule,
// "scan.2.tif" -> "scan"), or at its last ("scan.2").
enum class NamingRule { FirstDot, LastDot };

// The part of a work-list file's name its outputs are named after: all of it when it holds no dot
// (for LastDot, none but a leading one).
QString outputBaseName(const QString& fileName, NamingRule rule = NamingRule::FirstDot);

// The output name of a work-list file: its base name, "." and `ext`, used exactly as given
// ("scan.2.tif" + "JPG" -> "scan.JPG", or "scan.2.JPG" by the last dot; "README" -> "README.JPG").
QString outputFileName(const QString& fileName, const QString& ext,
                       NamingRule rule = NamingRule::FirstDot);

// The output file of page `page` (from 1) of a source of `pageCount` pages, from the source's
// output name `outputName` (outputFileName()) and the extension it ends in: the page number goes
// before the extension, zero-padded to the width of pageCount so that the pages sort in order
// ("scan.JPG", 3 pages: "scan-1.JPG" ... "scan-3.JPG"; 12 pages: "scan-01.JPG" ...).
QString pageFileName(const QString& outputName, const QString& ext, int page, int pageCount);

// The output files of a source of `pageCount` pages written in `formatCode`: its output name
// alone for one page or a format whose files hold pages (TIFF), otherwise one file per page.
QStringList outputFileNames(const QString& outputName, const QString& ext, int pageCount,
                            int formatCode);

// The height a page of `height` pixels at xDpi x yDpi has with square pixels: resampled
// vertically to the horizontal resolution (1146 at 204 x 98 dpi: 2386). Returns 0 with `height`
// itself when the resolutions are equal or one is not stated, or kErrOverflow.
int32_t squarePixelHeight(int32_t height, int32_t xDpi, int32_t yDpi, int32_t& squareHeight);

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

// The message that refuses a page file that would replace the output of `other`: "scan-1.JPG, a
// page of scan.tif, would replace the output of scan-1.gif."
QString pageClashText(const QString& pageName, const QString& fileName, const QString& other);

// "3 files": the files left, the current one included.
QString filesLeftText(int count);

}  // namespace pixavant::batch
