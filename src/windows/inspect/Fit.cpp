#include "inspect/Fit.h"

#include <cmath>
#include <limits>

namespace pixavant {

namespace {

constexpr int kTwipsPerPixel = 15;

std::optional<int16_t> checked(long value) {
    if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max())
        return std::nullopt;
    return int16_t(value);
}

// The offset that centres `size` pixels in `boxSize` pixels, then the control's geometry: every
// step in 16-bit arithmetic, an overflow failing the fit.
std::optional<ControlGeometry> place(int16_t newWidth, int16_t newHeight, const PreviewBox& box) {
    const std::optional<int16_t> spareWidth = checked(long(box.width) - newWidth);
    const std::optional<int16_t> spareHeight = checked(long(box.height) - newHeight);
    if (!spareWidth || !spareHeight)
        return std::nullopt;
    const std::optional<int16_t> dx = roundToInt16(float(*spareWidth) / 2.0f);
    const std::optional<int16_t> dy = roundToInt16(float(*spareHeight) / 2.0f);
    if (!dx || !dy)
        return std::nullopt;

    const std::optional<int16_t> width = checked(long(newWidth) * kTwipsPerPixel);
    const std::optional<int16_t> height = checked(long(newHeight) * kTwipsPerPixel);
    const std::optional<int16_t> dyTwips = checked(long(*dy) * kTwipsPerPixel);
    const std::optional<int16_t> dxTwips = checked(long(*dx) * kTwipsPerPixel);
    if (!width || !height || !dyTwips || !dxTwips)
        return std::nullopt;
    const std::optional<int16_t> top = checked(long(*dyTwips) + box.top);
    const std::optional<int16_t> left = checked(long(*dxTwips) + box.left);
    if (!top || !left)
        return std::nullopt;
    return ControlGeometry{*width, *height, *top, *left};
}

}  // namespace

std::optional<int16_t> roundToInt16(float x) {
    if (!std::isfinite(x))
        return std::nullopt;
    // The default rounding mode rounds halves to even.
    const float rounded = std::nearbyint(x);
    if (rounded < -32768.0f || rounded > 32767.0f)
        return std::nullopt;
    return int16_t(rounded);
}

std::optional<ControlGeometry> fitPreview(float imageWidth, float imageHeight,
                                          const PreviewBox& box) {
    const float boxWidth = float(box.width);
    const float boxHeight = float(box.height);
    if (imageHeight == 0.0f)
        return std::nullopt;  // division by zero
    // Single precision throughout: each product is stored as a float before it is divided.
    const float widthAtBoxHeight = imageWidth * boxHeight;
    int16_t newWidth = 0;
    int16_t newHeight = 0;
    if (widthAtBoxHeight / imageHeight > boxWidth) {
        // Relatively wider than the box: the width fills it.
        const float heightAtBoxWidth = imageHeight * boxWidth;
        const std::optional<int16_t> h = roundToInt16(heightAtBoxWidth / imageWidth);
        if (!h)
            return std::nullopt;
        newWidth = box.width;
        newHeight = *h;
    } else {
        const std::optional<int16_t> w = roundToInt16(widthAtBoxHeight / imageHeight);
        if (!w)
            return std::nullopt;
        newWidth = *w;
        newHeight = box.height;
    }
    return place(newWidth, newHeight, box);
}

std::optional<ControlGeometry> fitViewerImage(float imageWidth, float imageHeight,
                                              const PreviewBox& box) {
    int16_t newWidth = box.width;
    if (imageWidth < float(box.width)) {
        const std::optional<int16_t> w = roundToInt16(imageWidth);
        if (!w)
            return std::nullopt;
        newWidth = *w;
    }
    int16_t newHeight = box.height;
    if (imageHeight < float(box.height)) {
        const std::optional<int16_t> h = roundToInt16(imageHeight);
        if (!h)
            return std::nullopt;
        newHeight = *h;
    }
    return place(newWidth, newHeight, box);
}

}  // namespace pixavant
