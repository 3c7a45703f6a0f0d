#include <gtest/gtest.h>

#include "settings/CompressionChoices.h"

namespace pixavant {
namespace {

TEST(CompressionChoices, FormatAndQualityByTypeAndLevel) {
    struct Case {
        int choice;
        int level;
        std::optional<int16_t> format;
        std::optional<int16_t> quality;
    };
    const Case cases[] = {
        {0, 0, 17, std::nullopt},
        {1, 0, 27, std::nullopt},
        {1, 1, 28, std::nullopt},
        {2, 0, 29, std::nullopt},
        {2, 1, 26, std::nullopt},
        {3, 0, 10, 2},
        {3, 20, 10, 202},
        {3, 25, 10, 252},
        {4, 0, 5, -1},
        {4, 7, 5, -8},
        {4, 8, 5, -9},
        {5, 3, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fileFormatFor(c.choice, c.level), c.format) << c.choice << "/" << c.level;
        EXPECT_EQ(qualityFactorFor(c.choice, c.level), c.quality) << c.choice << "/" << c.level;
    }
    EXPECT_EQ(maxCompressionLevel(3), 25);
    EXPECT_EQ(maxCompressionLevel(4), 8);
    EXPECT_EQ(maxCompressionLevel(1), 1);
}

TEST(CompressionChoices, ProposedExtension) {
    const std::pair<int, const char*> cases[] = {{0, "TIF"}, {1, "TIF"}, {2, "TIF"}, {3, "JPG"},
                                                 {4, "JPG"}, {5, "CMP"}, {6, ""},    {-1, ""}};
    for (const auto& [choice, ext] : cases)
        EXPECT_EQ(proposedExtension(choice), QString::fromLatin1(ext)) << choice;

    // What is written decides: a JPEG XL file is named as one, whatever the type's proposal.
    struct Written {
        int choice, format;
        const char* ext;
    };
    const Written written[] = {{4, 5, "JXL"},  {2, 26, "JXL"}, {2, 29, "TIF"}, {4, 30, "JXL"},
                               {5, 5, "JXL"},  {5, 10, "CMP"}, {3, 10, "JPG"}, {0, 17, "TIF"},
                               {6, 30, "JXL"}, {6, 10, ""}};
    for (const Written& w : written)
        EXPECT_EQ(proposedExtension(w.choice, w.format), QString::fromLatin1(w.ext))
            << w.choice << "/" << w.format;
}

}  // namespace
}  // namespace pixavant
