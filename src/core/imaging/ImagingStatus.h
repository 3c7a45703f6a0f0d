#pragma once

#include <cstdint>

namespace pixavant::imaging {

// Status codes of the imaging operations. 0 is success; the two codes below 20005 that callers tell
// apart come first, every other failure has a code of its own above 20005.
enum Status : int16_t {
    kSuccess = 0,
    kErrNoMemory = 20001,  // an allocation failed, or the image exceeds kMaxPixels
    kErrWrite =
        20005,  // the output cannot be created or written (directory, permission, disk full)
    kErrFileNotFound =
        20006,            // the input does not exist, is not a regular file, or cannot be opened
    kErrFormat = 20007,   // not an image in a format that can be read
    kErrCorrupt = 20008,  // the file is damaged or truncated
    kErrInvalidArgument =
        20009,            // an argument out of range: a size, a depth, an unknown save format code
    kErrNoImage = 20010,  // save or resize without a loaded image
    kErrCancelled = 20011,  // the operation was abandoned from the progress notification
    kErrLimit = 20012,   // a resource or time limit of a delegate was hit (for example Ghostscript)
    kErrVerify = 20013,  // the output did not read back as it was written (ImagingControl)
};

// Largest image the component accepts: 2^28 pixels. Readers check the header against it before
// they allocate anything.
inline constexpr int64_t kMaxPixels = int64_t{1} << 28;

// Failure code for an image of the given size, or kSuccess when it is within the limits.
inline Status checkImageSize(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0)
        return kErrCorrupt;
    // Each side first: the product of two header fields of up to 32 bits would overflow.
    if (width > kMaxPixels || height > kMaxPixels || width * height > kMaxPixels)
        return kErrNoMemory;
    return kSuccess;
}

}  // namespace pixavant::imaging
