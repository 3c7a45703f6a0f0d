#include "imaging/Raster.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace pixavant::imaging {

bool Raster::allocate() {
    try {
        pixels.assign(rowBytes() * size_t(height), 0);
    } catch (const std::bad_alloc&) {
        pixels.clear();
        return false;
    } catch (const std::length_error&) {
        pixels.clear();
        return false;
    }
    return true;
}

uint32_t scaleSample(uint32_t value, int fromBits, int toBits) {
    if (fromBits == toBits)
        return value;
    const uint64_t from = (uint64_t(1) << fromBits) - 1;
    const uint64_t to = (uint64_t(1) << toBits) - 1;
    return uint32_t((std::min<uint64_t>(value, from) * to + from / 2) / from);
}

}  // namespace pixavant::imaging
