#include "imaging/ColorProfile.h"

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

namespace pixavant::imaging {

namespace {

// A profile is taken for a named space when no colour of the test grid moves by more than this
// many 8-bit levels between the two. Profiles of sRGB made by different tools differ by up to
// about two thirds of a level (rounded colorants, their own white point adaptation).
constexpr double kToleranceLevels = 1.0;
// Points per axis of the test grid (0 to 1 inclusive).
constexpr int kGridSteps = 17;

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using ProfilePtr = std::unique_ptr<void, ProfileCloser>;
struct CurveFreer {
    void operator()(cmsToneCurve* curve) const { cmsFreeToneCurve(curve); }
};
using CurvePtr = std::unique_ptr<cmsToneCurve, CurveFreer>;
struct TransformDeleter {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using TransformPtr = std::unique_ptr<void, TransformDeleter>;

constexpr double kD65[2] = {0.3127, 0.3290};
constexpr double kDci[2] = {0.314, 0.351};
constexpr double kE[2] = {1.0 / 3, 1.0 / 3};

struct Primaries {
    double red[2], green[2], blue[2];
};
constexpr Primaries kSrgbPrimaries = {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}};
constexpr Primaries kP3Primaries = {{0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}};
constexpr Primaries k2100Primaries = {{0.708, 0.292}, {0.170, 0.797}, {0.131, 0.046}};

JxlColorEncoding grayEncoding(JxlTransferFunction transfer, double gamma = 0) {
    JxlColorEncoding e{};
    e.color_space = JXL_COLOR_SPACE_GRAY;
    e.white_point = JXL_WHITE_POINT_D65;
    e.transfer_function = transfer;
    e.gamma = gamma;
    e.rendering_intent = JXL_RENDERING_INTENT_PERCEPTUAL;
    return e;
}

JxlColorEncoding rgbEncoding(JxlPrimaries primaries, JxlTransferFunction transfer) {
    JxlColorEncoding e = grayEncoding(transfer);
    e.color_space = JXL_COLOR_SPACE_RGB;
    e.primaries = primaries;
    return e;
}

// The spaces tried, most common first.
std::vector<JxlColorEncoding> candidates(int channels) {
    if (channels == 1)
        return {grayEncoding(JXL_TRANSFER_FUNCTION_SRGB),
                grayEncoding(JXL_TRANSFER_FUNCTION_GAMMA, 1 / 2.2),
                grayEncoding(JXL_TRANSFER_FUNCTION_LINEAR)};
    return {rgbEncoding(JXL_PRIMARIES_SRGB, JXL_TRANSFER_FUNCTION_SRGB),
            rgbEncoding(JXL_PRIMARIES_P3, JXL_TRANSFER_FUNCTION_SRGB),
            rgbEncoding(JXL_PRIMARIES_SRGB, JXL_TRANSFER_FUNCTION_709),
            rgbEncoding(JXL_PRIMARIES_2100, JXL_TRANSFER_FUNCTION_709),
            rgbEncoding(JXL_PRIMARIES_SRGB, JXL_TRANSFER_FUNCTION_LINEAR)};
}

// The curve that turns encoded values into linear light.
CurvePtr toneCurve(const JxlColorEncoding& e) {
    switch (e.transfer_function) {
        case JXL_TRANSFER_FUNCTION_SRGB: {
            const double p[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
            return CurvePtr(cmsBuildParametricToneCurve(nullptr, 4, p));
        }
        case JXL_TRANSFER_FUNCTION_709: {
            const double p[5] = {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081};
            return CurvePtr(cmsBuildParametricToneCurve(nullptr, 4, p));
        }
        case JXL_TRANSFER_FUNCTION_LINEAR:
            return CurvePtr(cmsBuildGamma(nullptr, 1.0));
        case JXL_TRANSFER_FUNCTION_GAMMA:
            return e.gamma > 0 ? CurvePtr(cmsBuildGamma(nullptr, 1 / e.gamma)) : nullptr;
        case JXL_TRANSFER_FUNCTION_DCI:
            return CurvePtr(cmsBuildGamma(nullptr, 2.6));
        default:
            return nullptr;  // PQ and HLG are not for 8-bit pictures
    }
}

const double* whiteOf(const JxlColorEncoding& e) {
    switch (e.white_point) {
        case JXL_WHITE_POINT_D65:
            return kD65;
        case JXL_WHITE_POINT_DCI:
            return kDci;
        case JXL_WHITE_POINT_E:
            return kE;
        case JXL_WHITE_POINT_CUSTOM:
            return e.white_point_xy;
        default:
            return nullptr;
    }
}

Primaries primariesOf(const JxlColorEncoding& e) {
    switch (e.primaries) {
        case JXL_PRIMARIES_SRGB:
            return kSrgbPrimaries;
        case JXL_PRIMARIES_P3:
            return kP3Primaries;
        case JXL_PRIMARIES_2100:
            return k2100Primaries;
        default:
            return {{e.primaries_red_xy[0], e.primaries_red_xy[1]},
                    {e.primaries_green_xy[0], e.primaries_green_xy[1]},
                    {e.primaries_blue_xy[0], e.primaries_blue_xy[1]}};
    }
}

// A matrix-and-curve profile of the encoding, as lcms builds it (primaries adapted to the D50
// connection space with Bradford, as JPEG XL's own profiles are).
ProfilePtr profileOf(const JxlColorEncoding& e) {
    const double* white = whiteOf(e);
    CurvePtr curve = toneCurve(e);
    if (white == nullptr || !curve)
        return nullptr;
    const cmsCIExyY whitePoint{white[0], white[1], 1.0};
    if (e.color_space == JXL_COLOR_SPACE_GRAY)
        return ProfilePtr(cmsCreateGrayProfile(&whitePoint, curve.get()));
    const Primaries p = primariesOf(e);
    const cmsCIExyYTRIPLE primaries{
        {p.red[0], p.red[1], 1.0}, {p.green[0], p.green[1], 1.0}, {p.blue[0], p.blue[1], 1.0}};
    cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
    return ProfilePtr(cmsCreateRGBProfile(&whitePoint, &primaries, curves));
}

ProfilePtr openIcc(const std::vector<uint8_t>& icc, int channels) {
    if (icc.size() < 132)
        return nullptr;
    ProfilePtr profile(cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size())));
    if (!profile)
        return nullptr;
    const cmsColorSpaceSignature space = cmsGetColorSpace(profile.get());
    if (space != (channels == 1 ? cmsSigGrayData : cmsSigRgbData))
        return nullptr;
    return profile;
}

// The largest move of a grid colour from `from` to `to`, in 8-bit levels; negative on failure.
double distance(void* from, void* to, int channels) {
    const cmsUInt32Number format = channels == 1 ? TYPE_GRAY_FLT : TYPE_RGB_FLT;
    TransformPtr transform(cmsCreateTransform(from, format, to, format,
                                              INTENT_RELATIVE_COLORIMETRIC,
                                              cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE));
    if (!transform)
        return -1;
    std::vector<float> in;
    const int steps = kGridSteps;
    if (channels == 1) {
        for (int i = 0; i < 256; ++i)
            in.push_back(float(i) / 255);
    } else {
        for (int r = 0; r < steps; ++r)
            for (int g = 0; g < steps; ++g)
                for (int b = 0; b < steps; ++b) {
                    in.push_back(float(r) / (steps - 1));
                    in.push_back(float(g) / (steps - 1));
                    in.push_back(float(b) / (steps - 1));
                }
    }
    std::vector<float> out(in.size());
    const cmsUInt32Number pixels = cmsUInt32Number(in.size() / size_t(channels));
    cmsDoTransform(transform.get(), in.data(), out.data(), pixels);
    double worst = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        const double d = std::fabs(double(out[i]) - double(in[i])) * 255;
        if (!std::isfinite(d))
            return -1;
        worst = std::max(worst, d);
    }
    return worst;
}

}  // namespace

double colorEncodingDistance(const std::vector<uint8_t>& icc, int channels,
                             const JxlColorEncoding& encoding) {
    ProfilePtr source = openIcc(icc, channels);
    ProfilePtr named = profileOf(encoding);
    if (!source || !named)
        return -1;
    return distance(source.get(), named.get(), channels);
}

std::optional<JxlColorEncoding> namedColorEncoding(const std::vector<uint8_t>& icc, int channels) {
    if (channels != 1 && channels != 3)
        return std::nullopt;
    ProfilePtr source = openIcc(icc, channels);
    if (!source)
        return std::nullopt;
    for (const JxlColorEncoding& candidate : candidates(channels)) {
        ProfilePtr named = profileOf(candidate);
        if (!named)
            continue;
        const double d = distance(source.get(), named.get(), channels);
        if (d >= 0 && d <= kToleranceLevels)
            return candidate;
    }
    return std::nullopt;
}

std::vector<uint8_t> iccProfileOf(const JxlColorEncoding& encoding) {
    ProfilePtr profile = profileOf(encoding);
    cmsUInt32Number size = 0;
    if (!profile || !cmsSaveProfileToMem(profile.get(), nullptr, &size) || size == 0)
        return {};
    std::vector<uint8_t> icc(size);
    if (!cmsSaveProfileToMem(profile.get(), icc.data(), &size))
        return {};
    icc.resize(size);
    return icc;
}

}  // namespace pixavant::imaging
