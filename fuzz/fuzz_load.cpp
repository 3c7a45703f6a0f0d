// Loading arbitrary bytes at a depth picked by the input: the control must load an image of the
// size it reports or fail with a status code, within the time and memory limits.
#include <cstdlib>

#include "FuzzInput.h"
#include "imaging/ImagingControl.h"
#include "imaging/ImagingStatus.h"

using namespace pixavant;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static constexpr int16_t kDepths[] = {0, 1, 8, 16, 24};
    const int16_t depth = size < 2 ? 0 : kDepths[data[size - 2] % 5];
    const QString path = fuzz::writeInput(data, size);
    imaging::ImagingControl control;
    const int16_t result = control.load(path, depth);
    if (result == imaging::kSuccess) {
        const imaging::Raster& shown = control.displayRaster();
        if (!control.hasImage() || shown.empty())
            std::abort();  // success without an image
    } else if (result < imaging::kErrNoMemory) {
        std::abort();
    }
    return 0;
}
