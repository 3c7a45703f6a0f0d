// The colour compression remembered while B/W is chosen and the type it selects again.
#include <gtest/gtest.h>

#include "settings/CompressionChoices.h"

namespace pixavant {
namespace {

TEST(CompressionType, RememberedColourCompressionSelectsTheSameTypeAgain) {
    // The numbers are the ones the settings record and the dialog count in.
    const std::tuple<CompressionType, ColorCompression, CompressionType> cases[] = {
        {CompressionType::Lzw, ColorCompression::Lzw, CompressionType::Lzw},
        {CompressionType::Jpeg, ColorCompression::Jpeg, CompressionType::Jpeg},
        {CompressionType::Pixavant, ColorCompression::Pixavant, CompressionType::Pixavant},
        // A CCITT group is no colour compression: "other" is remembered and selected.
        {CompressionType::CcittG3, ColorCompression::Other, CompressionType::Other},
        {CompressionType::CcittG4, ColorCompression::Other, CompressionType::Other},
        {CompressionType::Other, ColorCompression::Other, CompressionType::Other},
    };
    for (const auto& [type, remembered, again] : cases) {
        EXPECT_EQ(colorCompressionOf(type), remembered) << int(type);
        EXPECT_EQ(compressionTypeOf(remembered), again) << int(type);
    }
    EXPECT_EQ(int(ColorCompression::Lzw), 0);
    EXPECT_EQ(int(ColorCompression::Jpeg), 1);
    EXPECT_EQ(int(ColorCompression::Pixavant), 2);
    EXPECT_EQ(int(ColorCompression::Other), 3);
    EXPECT_EQ(int(CompressionType::Pixavant), 4);
    EXPECT_EQ(int(CompressionType::Other), 5);
}

}  // namespace
}  // namespace pixavant
