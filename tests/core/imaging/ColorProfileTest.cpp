// Which embedded profiles are taken for a named colour space (and so written as that space's code
// points rather than the profile's bytes): real profiles from cameras, web services and scanners,
// and profiles made here with lcms.

#include <gtest/gtest.h>

#include <jpeglib.h>
#include <jxl/encode.h>
#include <lcms2.h>
#include <tiffio.h>

#include <QFile>
#include <cstdio>
#include <memory>

#include "ImagingFixtures.h"
#include "Testdata.h"
#include "imaging/ColorProfile.h"

namespace pixavant::imaging {
namespace {

std::vector<uint8_t> jpegProfile(const QString& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(QFile::encodeName(path), "rb"),
                                               &std::fclose);
    if (!file)
        return {};
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file.get());
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
    std::vector<uint8_t> icc;
    JOCTET* data = nullptr;
    unsigned size = 0;
    if (jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK &&
        jpeg_read_icc_profile(&cinfo, &data, &size))
        icc.assign(data, data + size);
    std::free(data);
    jpeg_destroy_decompress(&cinfo);
    return icc;
}

std::vector<uint8_t> tiffProfile(const QString& path) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (tif == nullptr)
        return {};
    uint32_t size = 0;
    void* data = nullptr;
    std::vector<uint8_t> icc;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &size, &data) == 1)
        icc.assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
    TIFFClose(tif);
    return icc;
}

using testing::lcmsProfile;

JxlColorEncoding encoding(JxlColorSpace space, JxlPrimaries primaries, JxlTransferFunction transfer,
                          double gamma = 0) {
    JxlColorEncoding e{};
    JxlColorEncodingSetToSRGB(&e, space == JXL_COLOR_SPACE_GRAY);
    e.primaries = primaries;
    e.transfer_function = transfer;
    e.gamma = gamma;
    return e;
}

// What a profile is taken for: "sRGB", "P3", "gray sRGB", "gray gamma", ... or "" for nothing.
std::string named(const std::vector<uint8_t>& icc, int channels) {
    const std::optional<JxlColorEncoding> e = namedColorEncoding(icc, channels);
    if (!e)
        return "";
    std::string name = e->color_space == JXL_COLOR_SPACE_GRAY ? "gray " : "";
    if (e->color_space == JXL_COLOR_SPACE_RGB)
        name += e->primaries == JXL_PRIMARIES_SRGB ? ""
                : e->primaries == JXL_PRIMARIES_P3 ? "P3 "
                                                   : "2100 ";
    switch (e->transfer_function) {
        case JXL_TRANSFER_FUNCTION_SRGB:
            return name + "sRGB";
        case JXL_TRANSFER_FUNCTION_709:
            return name + "709";
        case JXL_TRANSFER_FUNCTION_LINEAR:
            return name + "linear";
        case JXL_TRANSFER_FUNCTION_GAMMA:
            return name + "gamma";
        default:
            return name + "?";
    }
}

TEST(ColorProfile, RealProfilesOfSrgbAreNamedAndOthersTravelAsTheyAre) {
    const QString exif = testing::testdataDir("exif");
    if (exif.isEmpty())
        GTEST_SKIP() << "../shared/testdata/exif is not there";
    struct Case {
        QString path;
        int channels;
        std::string named;
    };
    const QString photos = testing::testdataDir("photos");
    const QString formats = testing::testdataDir("formats");
    const Case cases[] = {
        {exif + "/Nikon_D70.jpg", 3, "sRGB"},  // sRGB IEC61966-2.1, the classic one
        {exif + "/Canon_40D.jpg", 3, "sRGB"},  // the same from another camera
        {photos + "/jon-tyson-FKkK1hnTe-Q-unsplash.jpg", 3, "sRGB"},  // "c2", a compact sRGB
        {exif + "/xmp_test.jpg", 3, ""},                              // Adobe RGB (1998)
        {exif + "/landscape_3.jpg", 3, ""},                           // Apple's Generic RGB
        {exif + "/Nikon_D70.jpg", 1, ""},  // an RGB profile for a gray image
        // Generic Gray Gamma 2.2, whose curve is within a level of sRGB's (tried first).
        {formats + "/pport_g4.tif", 1, "gray sRGB"},
        {formats + "/pport_g4.tif", 3, ""},
    };
    for (const Case& c : cases) {
        if (!QFile::exists(c.path))
            continue;  // the folder of that file is not there
        const std::vector<uint8_t> icc =
            c.path.endsWith(".tif") ? tiffProfile(c.path) : jpegProfile(c.path);
        ASSERT_GE(icc.size(), 132u) << c.path.toStdString();
        EXPECT_EQ(named(icc, c.channels), c.named) << c.path.toStdString() << " as " << c.channels;
    }
}

TEST(ColorProfile, MadeUpProfilesAreNamedWhenTheyAreTheSpaceWithinALevel) {
    const double p3[6] = {0.680, 0.320, 0.265, 0.690, 0.150, 0.060};
    const double adobe[6] = {0.64, 0.33, 0.21, 0.71, 0.15, 0.06};
    const double srgb[6] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
    const auto rgbProfile = [](const double* primaries, double gamma) {
        return lcmsProfile(primaries, 1, {gamma});
    };
    const auto grayProfile = [](double gamma) { return lcmsProfile(nullptr, 1, {gamma}); };
    const std::vector<uint8_t> lcmsSrgb = testing::savedProfile(cmsCreate_sRGBProfile());
    std::vector<uint8_t> truncated = lcmsSrgb;
    truncated.resize(truncated.size() / 2);
    std::vector<uint8_t> garbage(600, 0x5A);
    const struct {
        const char* what;
        std::vector<uint8_t> icc;
        int channels;
        std::string named;
    } cases[] = {
        {"lcms's own sRGB", lcmsSrgb, 3, "sRGB"},
        {"sRGB primaries, gamma 2.2", rgbProfile(srgb, 2.2), 3, ""},
        {"Adobe RGB", rgbProfile(adobe, 563.0 / 256), 3, ""},
        {"sRGB primaries, linear", rgbProfile(srgb, 1.0), 3, "linear"},
        {"Display P3",
         iccProfileOf(encoding(JXL_COLOR_SPACE_RGB, JXL_PRIMARIES_P3, JXL_TRANSFER_FUNCTION_SRGB)),
         3, "P3 sRGB"},
        {"P3 primaries, gamma 2.6", rgbProfile(p3, 2.6), 3, ""},
        {"gray, gamma 2.2", grayProfile(2.2), 1, "gray gamma"},
        {"gray, linear", grayProfile(1.0), 1, "gray linear"},
        {"gray, gamma 1.8", grayProfile(1.8), 1, ""},
        {"gray profile for a colour image", grayProfile(2.2), 3, ""},
        {"truncated sRGB", truncated, 3, ""},
        {"the header alone", std::vector<uint8_t>(lcmsSrgb.begin(), lcmsSrgb.begin() + 132), 3, ""},
        {"not a profile", garbage, 3, ""},
        {"empty", {}, 3, ""},
        {"sRGB for two channels", lcmsSrgb, 2, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(named(c.icc, c.channels), c.named) << c.what;
}

// Every space the writer names comes back as itself from the profile made for it.
TEST(ColorProfile, TheProfileOfEachNamedSpaceIsNamedAsIt) {
    const JxlColorEncoding spaces[] = {
        encoding(JXL_COLOR_SPACE_RGB, JXL_PRIMARIES_SRGB, JXL_TRANSFER_FUNCTION_SRGB),
        encoding(JXL_COLOR_SPACE_RGB, JXL_PRIMARIES_P3, JXL_TRANSFER_FUNCTION_SRGB),
        encoding(JXL_COLOR_SPACE_RGB, JXL_PRIMARIES_SRGB, JXL_TRANSFER_FUNCTION_709),
        encoding(JXL_COLOR_SPACE_RGB, JXL_PRIMARIES_2100, JXL_TRANSFER_FUNCTION_709),
        encoding(JXL_COLOR_SPACE_RGB, JXL_PRIMARIES_SRGB, JXL_TRANSFER_FUNCTION_LINEAR),
        encoding(JXL_COLOR_SPACE_GRAY, JXL_PRIMARIES_SRGB, JXL_TRANSFER_FUNCTION_SRGB),
        encoding(JXL_COLOR_SPACE_GRAY, JXL_PRIMARIES_SRGB, JXL_TRANSFER_FUNCTION_GAMMA, 1 / 2.2),
        encoding(JXL_COLOR_SPACE_GRAY, JXL_PRIMARIES_SRGB, JXL_TRANSFER_FUNCTION_LINEAR),
    };
    for (const JxlColorEncoding& space : spaces) {
        const int channels = space.color_space == JXL_COLOR_SPACE_GRAY ? 1 : 3;
        const std::vector<uint8_t> icc = iccProfileOf(space);
        const std::optional<JxlColorEncoding> back = namedColorEncoding(icc, channels);
        ASSERT_TRUE(back) << space.primaries << "/" << space.transfer_function;
        EXPECT_EQ(std::tuple(back->color_space, back->transfer_function),
                  std::tuple(space.color_space, space.transfer_function));
        if (channels == 3) {
            EXPECT_EQ(back->primaries, space.primaries);
        }
        // Within the rounding of the profile's stored numbers.
        EXPECT_LT(colorEncodingDistance(icc, channels, space), 0.25);
    }
    // Nothing is made for what no matrix and curves hold.
    EXPECT_TRUE(
        iccProfileOf(encoding(JXL_COLOR_SPACE_RGB, JXL_PRIMARIES_2100, JXL_TRANSFER_FUNCTION_PQ))
            .empty());
}

}  // namespace
}  // namespace pixavant::imaging
