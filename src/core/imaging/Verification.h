#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/ImagingStatus.h"
#include "imaging/Progress.h"
#include "imaging/Raster.h"

namespace pixavant::imaging {

// How an output was checked after it was written.
enum class VerifyMethod {
    None,                // not checked
    Identical,           // lossless: every pixel read back equals the one written
    Psnr,                // lossy: the pixels read back reach the level's PSNR floor
    JpegReconstruction,  // a JPEG recompressed into PIXAVANT: the JPEG rebuilt byte for byte
};

struct Verification {
    VerifyMethod method = VerifyMethod::None;
    bool passed = false;
    double psnr = 0;     // dB, of the pixels read back against those written (infinite: identical)
    double floor = 0;    // dB, the least a lossy output of its level must reach
    std::string detail;  // why it failed
};

// Whether outputs of `formatCode` hold exactly the pixels written (TIFF, PIXAVANT lossless and
// 1-bit); the others (JPEG, PIXAVANT lossy) are checked against psnrFloor().
bool isLosslessFormat(int formatCode);

// The least PSNR, in dB, that an output of a lossy format reaches at this quality factor: each
// level's lowest figure on real photographs, graphics and scans, less a margin (measured with
// bench/verification_floors). A factor between two levels takes the coarser level's floor.
double psnrFloor(int formatCode, int qualityFactor);

// PSNR in dB of `decoded` against `written` (palette and black-and-white pixels compared as the
// colours they stand for, gray against colour as gray in every channel). Infinite when equal;
// negative when the sizes differ.
double psnrOf(const Raster& written, const Raster& decoded);

// Decodes the file at `path` as a load would and compares it with `written`, the raster the writer
// was given for `formatCode`. Returns kSuccess with the outcome in `result` (an output that cannot
// be read back fails verification), or kErrCancelled / kErrNoMemory when the check itself stopped.
// `page`: the page of a file that holds pages (from 0).
Status verifyOutput(const QString& path, const Raster& written, int formatCode, int qualityFactor,
                    Progress& progress, Verification& result, int page = 0);

// For a PIXAVANT file recompressed losslessly from a JPEG: rebuilds the JPEG from the file's
// reconstruction data and compares it byte for byte with the source JPEG at `sourceJpegPath`.
Verification verifyJpegReconstruction(const QString& path, const QString& sourceJpegPath);
// The same against the JPEG's bytes.
Verification verifyJpegReconstruction(const QString& path, const std::vector<uint8_t>& sourceJpeg);

}  // namespace pixavant::imaging
