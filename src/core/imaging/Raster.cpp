#include "imaging/Raster.h"

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

}  // namespace pixavant::imaging
