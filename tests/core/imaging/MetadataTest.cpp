#include <libexif/exif-data.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#pragma GCC diagnostic pop

#include <map>
#include <set>
#include <string>

#include "ImagingFixtures.h"
#include "Testdata.h"
#include "imaging/MetadataSupport.h"

namespace pixavant::imaging {
namespace {

struct Output {
    int code;
    const char* name;
};
constexpr Output kOutputs[] = {{format::kJpeg444, "JPEG"},
                               {format::kTiffLzw, "TIFF"},
                               {format::kPixavant, "PIXAVANT"},
                               {format::kPixavantLossless, "PIXAVANT lossless"}};

// Camera files of several makers and byte orders, with GPS, maker notes, IPTC and XMP.
const QStringList kCameraFiles =
    QStringLiteral(
        "Canon_40D.jpg DSCN0010.jpg Fujifilm_FinePix_E500.jpg Olympus_C8080WZ.jpg Pentax_K10D.jpg "
        "broken_exif_dpi.jpg iptc.jpg xmp_test.jpg Nikon_D70.jpg Panasonic_DMC-FZ30.jpg")
        .split(' ');

// Tags the conversion makes true of the output instead of copying them, and the first directory's
// tags that describe how the source stored its pixels (a camera's stated 2048 x 1367 of a JPEG that
// is 100 x 100).
const std::set<std::string> kNotCopied = {"0:0100", "0:0101", "0:0102", "0:0103", "0:0106",
                                          "0:0111", "0:0115", "0:0116", "0:0117", "0:011c",
                                          "0:0112", "0:011a", "0:011b", "0:0128", "2:a001",
                                          "2:a002", "2:a003", "2:927c", "2:9102"};
// Tags a TIFF file's EXIF does not record: chroma siting and those of compressed data.
const std::set<std::string> kNotInTiff = {"0:0213", "2:9101"};

// The EXIF values of a block, keyed "directory:tag", as libexif prints them.
std::map<std::string, std::string> exifValues(const std::vector<uint8_t>& block) {
    std::map<std::string, std::string> values;
    if (block.empty())
        return values;
    ExifData* data = exif_data_new();
    exif_data_unset_option(data, EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
    exif_data_unset_option(data, ExifDataOption(1 << 1));  // nothing added or rewritten
    std::vector<uint8_t> app1 = {'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), block.begin(), block.end());
    exif_data_load_data(data, app1.data(), unsigned(app1.size()));
    for (const ExifIfd ifd : {EXIF_IFD_0, EXIF_IFD_EXIF, EXIF_IFD_GPS}) {
        ExifContent* content = data->ifd[ifd];
        for (unsigned i = 0; i < content->count; ++i) {
            char key[16];
            std::snprintf(key, sizeof key, "%d:%04x", int(ifd), unsigned(content->entries[i]->tag));
            char value[1024] = "";
            exif_entry_get_value(content->entries[i], value, sizeof value);
            values[key] = value;
        }
    }
    const bool thumbnail = data->size > 0 || data->ifd[EXIF_IFD_1]->count > 0;
    if (thumbnail)
        values["thumbnail"] = "yes";
    exif_data_unref(data);
    return values;
}

std::map<std::string, std::string> xmpValues(const std::vector<uint8_t>& packet) {
    std::map<std::string, std::string> values;
    Exiv2::XmpData xmp;
    if (!packet.empty() &&
        Exiv2::XmpParser::decode(xmp, std::string(packet.begin(), packet.end())) == 0)
        for (const Exiv2::Xmpdatum& datum : xmp)
            values[datum.key()] = datum.toString();
    return values;
}

std::map<std::string, std::string> iptcValues(const std::vector<uint8_t>& iptc) {
    std::map<std::string, std::string> values;
    Exiv2::IptcData data;
    if (!iptc.empty() && Exiv2::IptcParser::decode(data, iptc.data(), uint32_t(iptc.size())) == 0)
        for (const Exiv2::Iptcdatum& datum : data)
            values[datum.key()] += datum.toString() + ";";
    return values;
}

class MetadataTest : public testing::ImagingTest {
  protected:
    void SetUp() override {
        ImagingTest::SetUp();
        exifDir_ = testing::testdataDir(QStringLiteral("exif"));
    }

    QString sample(const QString& name) const { return exifDir_ + QLatin1Char('/') + name; }

    // Loads `source`, saves it in `code` (shrunk to a thumbnail: only the metadata matters) and
    // loads the output; its metadata, and the conversion's notes joined in `notes`.
    ImageMeta convert(const QString& source, int code, const QString& name,
                      std::string* notes = nullptr, bool keep = true) {
        ImagingControl control;
        control.setKeepMetadata(keep);
        EXPECT_EQ(control.load(source, 0), kSuccess) << source.toStdString();
        if (control.bitmapWidth() > 48) {
            const float height =
                std::max(1.0f, 48 * control.bitmapHeight() / control.bitmapWidth());
            EXPECT_EQ(control.resize(48, height), kSuccess);
        }
        EXPECT_EQ(
            control.save(path(name),
                         {int16_t(code), 0, int16_t(code == format::kJpeg444 ? 2 : -1), {72, 72}}),
            kSuccess)
            << source.toStdString() << " -> " << code;
        for (const std::string& note : control.notes())
            if (notes != nullptr)
                *notes += note + "; ";
        ImagingControl back;
        EXPECT_EQ(back.load(path(name), 0), kSuccess);
        return back.meta();
    }

    QString exifDir_;
};

#define REQUIRE_SAMPLES()   \
    if (exifDir_.isEmpty()) \
    GTEST_SKIP() << "../shared/testdata/exif is not there"

TEST_F(MetadataTest, EveryExifValueOfACameraFileSurvivesIntoEachFormatAndBack) {
    REQUIRE_SAMPLES();
    for (const QString& file : kCameraFiles) {
        SCOPED_TRACE(file.toStdString());
        ImagingControl source;
        ASSERT_EQ(source.load(sample(file), 0), kSuccess);
        std::map<std::string, std::string> expected = exifValues(source.meta().embedded.exif);
        ASSERT_GT(expected.size(), 3u);
        for (const std::string& key : kNotCopied)
            expected.erase(key);
        expected.erase("thumbnail");
        for (const Output& output : kOutputs) {
            auto wanted = expected;
            if (output.code == format::kTiffLzw)
                for (const std::string& key : kNotInTiff)
                    wanted.erase(key);
            const QString first = QStringLiteral("%1.%2").arg(output.code).arg(file);
            const ImageMeta carried = convert(sample(file), output.code, first);
            // And from that output, as a source of its own format, into JPEG again.
            const ImageMeta again = convert(path(first), format::kJpeg444, "again." + first);
            for (const ImageMeta* meta : {&carried, &again}) {
                const auto values = exifValues(meta->embedded.exif);
                for (const auto& [key, value] : wanted)
                    EXPECT_EQ(values.count(key) ? values.at(key) : "(missing)", value)
                        << output.name << (meta == &again ? " and back" : "") << ", tag " << key;
            }
        }
    }
}

TEST_F(MetadataTest, WhatTheConversionChangesIsMadeTrue) {
    REQUIRE_SAMPLES();
    const auto tag = [](const std::map<std::string, std::string>& values, const char* key) {
        return values.count(key) ? values.at(key) : "(none)";
    };
    for (const Output& output : kOutputs) {
        SCOPED_TRACE(output.name);
        // Turned by its orientation at load (once, not twice), then resized, saved at 300 dpi.
        ImagingControl control, back;
        ASSERT_EQ(control.load(sample("landscape_6.jpg"), 0), kSuccess);
        ASSERT_EQ(control.bitmapWidth(), 600);
        ASSERT_EQ(control.resize(120, 90), kSuccess);
        const QString file = path(QStringLiteral("turned.%1").arg(output.code));
        ASSERT_EQ(control.save(file, {int16_t(output.code), 0, -1, {300, 300}}), kSuccess);
        ASSERT_EQ(back.load(file, 0), kSuccess);
        const auto turned = exifValues(back.meta().embedded.exif);
        EXPECT_EQ(std::tuple(back.bitmapWidth(), tag(turned, "0:0112"), tag(turned, "0:011a")),
                  std::tuple(120, "Top-left", "300"));

        // The thumbnail goes; pixel dimensions follow the output (TIFF states them in its own
        // tags).
        ASSERT_EQ(control.load(sample("Canon_40D.jpg"), 0), kSuccess);
        ASSERT_EQ(control.resize(50, 34), kSuccess);
        ASSERT_EQ(control.save(file, {int16_t(output.code), 8, -1, {300, 300}}), kSuccess);
        ASSERT_EQ(back.load(file, 0), kSuccess);
        const auto canon = exifValues(back.meta().embedded.exif);
        const bool tiff = output.code == format::kTiffLzw;
        EXPECT_EQ(std::tuple(tag(canon, "thumbnail"), tag(canon, "2:a002"), tag(canon, "2:a003")),
                  std::tuple("(none)", tiff ? "(none)" : "50", tiff ? "(none)" : "34"));
    }
}

TEST_F(MetadataTest, XmpIsMadeTrueIptcTravelsInEachFormatsOwnWayAndPixelsOnlyCarriesNone) {
    REQUIRE_SAMPLES();
    const ImageMeta source = [&] {
        ImagingControl control;
        EXPECT_EQ(control.load(sample("BlueSquare.jpg"), 0), kSuccess);
        return control.meta();
    }();
    ASSERT_FALSE(source.embedded.iptc.empty());
    const auto sourceIptc = iptcValues(source.embedded.iptc);
    for (const Output& output : kOutputs) {
        const ImageMeta meta = convert(sample("BlueSquare.jpg"), output.code,
                                       QStringLiteral("blue.%1").arg(output.code));
        const auto xmp = xmpValues(meta.embedded.xmp);
        EXPECT_EQ(xmp.at("Xmp.tiff.ImageWidth"), "48") << output.name;  // the output's
        EXPECT_EQ(xmp.count("Xmp.tiff.NativeDigest"), 0u) << output.name;
        EXPECT_EQ(xmp.at("Xmp.xmp.CreatorTool"), "Adobe Photoshop CS2 Macintosh") << output.name;
        if (output.code == format::kJpeg444 || output.code == format::kTiffLzw) {
            EXPECT_EQ(iptcValues(meta.embedded.iptc), sourceIptc) << output.name;
        } else {
            // No IPTC record in a JPEG XL file: its data sets are XMP properties there.
            EXPECT_TRUE(meta.embedded.iptc.empty());
            EXPECT_EQ(xmp.at("Xmp.dc.title"), "lang=\"x-default\" Blue Square Test File - .jpg");
            EXPECT_EQ(xmp.at("Xmp.dc.format"), "image/jxl");
        }
    }
    // Pixels only: no descriptive metadata, but the resolution stays.
    for (const Output& output : kOutputs) {
        const ImageMeta meta = convert(sample("iptc.jpg"), output.code,
                                       QStringLiteral("bare.%1").arg(output.code), nullptr, false);
        const auto exif = exifValues(meta.embedded.exif);
        EXPECT_EQ(std::tuple(exif.count("0:010f"), exif.count("2:9003"), meta.embedded.xmp.size(),
                             meta.embedded.iptc.size(), std::lround(meta.xDpi)),
                  std::tuple(0u, 0u, 0u, 0u, 72))  // Make, DateTimeOriginal
            << output.name;
    }
    // A packet that needs no change is carried byte for byte.
    const ImageMeta same =
        convert(sample("xmp_test.jpg"), format::kJpeg444, QStringLiteral("x.jpg"));
    ImagingControl original;
    ASSERT_EQ(original.load(sample("xmp_test.jpg"), 0), kSuccess);
    EXPECT_EQ(same.embedded.xmp, original.meta().embedded.xmp);
}

// A maker note whose values lie outside its own bytes (the Nikon COOLPIX's NikonScanIFD and
// NEFBitDepth point past its end; Panasonic's count from the EXIF header, which moves) would be
// written broken: it is left out, and said so. One that moves intact (Fujifilm's) is kept.
TEST_F(MetadataTest, MakerNotesAreCarriedOnlyWhenTheyReadBackIntact) {
    REQUIRE_SAMPLES();
    const struct {
        const char* file;
        bool kept;
    } cases[] = {{"DSCN0010.jpg", false},
                 {"Panasonic_DMC-FZ30.jpg", false},
                 {"Fujifilm_FinePix_E500.jpg", true}};
    for (const auto& c : cases) {
        ImagingControl source;
        ASSERT_EQ(source.load(sample(c.file), 0), kSuccess);
        const std::vector<uint8_t>& original = source.meta().embedded.exif;
        for (const Output& output : kOutputs) {
            SCOPED_TRACE(std::string(c.file) + " in " + output.name);
            std::string said;
            const ImageMeta meta = convert(sample(c.file), output.code, "out", &said);
            EXPECT_EQ(said.find("maker note") != std::string::npos, !c.kept) << said;
            EXPECT_EQ(exifValues(meta.embedded.exif).count("2:927c"), c.kept ? 1u : 0u);
            // What is kept reads as the source's, value for value (exiv2 reads the note).
            std::string make;
            EXPECT_EQ(makerNoteReadsAlike(original, meta.embedded.exif, make), c.kept);
            // The rest of the EXIF is carried all the same.
            EXPECT_GT(exifValues(meta.embedded.exif).size(), 10u);
        }
    }
}

// A JPEG with an APP1 marker of the given payload after its SOI.
QByteArray withApp1(const QByteArray& jpeg, const QByteArray& payload) {
    const qsizetype size = payload.size() + 2;
    return jpeg.left(2) + "\xFF\xE1" + char(size >> 8) + char(size & 0xFF) + payload + jpeg.mid(2);
}

TEST_F(MetadataTest, DamagedMetadataIsLeftOutAndSaidSoButThePixelsAreWritten) {
    const QByteArray jpeg = testing::makeJpeg(testing::makePhotoLike(64, 48));
    const QByteArray exif = QByteArray("Exif\0\0MM\0*\0\0\0\x08", 14) + QByteArray(300, 'Z');
    const QByteArray xmp = QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) + "<x:xmpmeta><broken";
    std::vector<std::pair<QString, const char*>> cases = {
        {write("exif.jpg", withApp1(jpeg, exif)), "EXIF"},
        {write("xmp.jpg", withApp1(jpeg, xmp)), "XMP"}};
    if (!exifDir_.isEmpty())
        for (const char* file : {"invalid-exif.jpg", "exif-ifd-offset.jpg", "multiple_exif.jpg"})
            cases.emplace_back(sample(file), "");  // what is left of them is carried
    for (const auto& [source, mentioned] : cases) {
        for (const Output& output : kOutputs) {
            std::string all;
            convert(source, output.code, QStringLiteral("out"), &all);
            EXPECT_NE(all.find(mentioned), std::string::npos)
                << source.toStdString() << " in " << output.name << ": " << all;
        }
    }
}

}  // namespace
}  // namespace pixavant::imaging
