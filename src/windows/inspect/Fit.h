#pragma once

#include <cstdint>
#include <optional>

namespace pixavant {

// The rectangle a display control occupies when its window loads; images are fitted into it.
// Size in pixels (the control's inner size), position in twips (15 twips make one pixel).
struct PreviewBox {
    int16_t width = 0;
    int16_t height = 0;
    int16_t left = 0;
    int16_t top = 0;
};

// Where a fit puts the display control, in twips.
struct ControlGeometry {
    int16_t width = 0;
    int16_t height = 0;
    int16_t top = 0;
    int16_t left = 0;
    bool operator==(const ControlGeometry&) const = default;
};

// x rounded to the nearest integer, halves to even, as a 16-bit value; nothing when x is not a
// number or lies outside the 16-bit range.
std::optional<int16_t> roundToInt16(float x);

// The main window's preview: the image (width x height pixels, as the control reports them) scaled
// with its aspect kept so that it fills the box in one direction, centred in the box. All
// arithmetic in single precision, each product rounded before its division. Nothing when the fit
// fails: a height of 0 (division by zero) or a value outside the 16-bit range.
std::optional<ControlGeometry> fitPreview(float imageWidth, float imageHeight,
                                          const PreviewBox& box);

// The viewer: each side at the image's own size, or the box's where the image is larger, centred
// in the box. Nothing when a value falls outside the 16-bit range.
std::optional<ControlGeometry> fitViewerImage(float imageWidth, float imageHeight,
                                              const PreviewBox& box);

}  // namespace pixavant
