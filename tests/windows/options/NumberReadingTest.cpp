#include <gtest/gtest.h>

#include <cmath>

#include "options/NumberReading.h"

using namespace pixavant;

TEST(NumberReading, LeadingNumber) {
    const std::pair<const char*, double> cases[] = {
        {"150", 150}, {"abc", 0},    {"", 0},          {"  42  ", 42}, {"4 2", 42},
        {"\t7", 7},   {"12abc", 12}, {"-3.25", -3.25}, {"+8", 8},      {".5", 0.5},
        {"5.", 5},    {"1e3", 1000}, {"2.5E-1", 0.25}, {"1e", 1},      {"1e+", 1},
        {"-", 0},     {".", 0},      {"0x10", 0},      {"1,5", 1},     {"7\u00e9", 7}};
    for (const auto& [text, value] : cases)
        EXPECT_DOUBLE_EQ(leadingNumber(QString::fromUtf8(text)), value) << text;
    EXPECT_TRUE(std::isinf(leadingNumber("1e400")));
    EXPECT_EQ(leadingNumber("1e-400"), 0.0);
}

TEST(NumberReading, RoundsHalvesToEven) {
    const std::pair<double, double> cases[] = {{0.5, 0},    {1.5, 2},   {2.5, 2},   {3.5, 4},
                                               {72.5, 72},  {73.5, 74}, {-2.5, -2}, {-3.5, -4},
                                               {2.4999, 2}, {2.5001, 3}};
    for (const auto& [value, rounded] : cases)
        EXPECT_EQ(roundHalfEven(value), rounded) << value;
}

TEST(NumberReading, SixteenBitRange) {
    EXPECT_EQ(readInt16("32767"), 32767);
    EXPECT_EQ(readInt16("32767.4"), 32767);
    EXPECT_EQ(readInt16("32767.5"), std::nullopt);  // rounds to 32768
    EXPECT_EQ(readInt16("-32768.5"), -32768);       // rounds to the even -32768
    EXPECT_EQ(readInt16("-32769"), std::nullopt);
    EXPECT_EQ(readInt16("1e5"), std::nullopt);
    EXPECT_EQ(readInt16("-1e400"), std::nullopt);
    EXPECT_EQ(readInt16("letters"), 0);
}
