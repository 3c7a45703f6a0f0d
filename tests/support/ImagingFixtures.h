#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <algorithm>
#include <vector>

#include "MagickFixtures.h"
#include "imaging/FileInfo.h"
#include "imaging/Progress.h"

namespace pixavant::testing {

// The resolution the following saves of this thread write (0 x 0: the source's), as a run sets it.
inline void setSaveResolution(int32_t x, int32_t y) {
    imaging::ExtFileOptionBlock block{};
    imaging::L_GetExtFileOption(block.data());
    imaging::writeInt32(&block[0], x);
    imaging::writeInt32(&block[4], y);
    imaging::L_SetExtFileOption(block.data());
}

// Decodes the file through the reader registry, as the control does.
inline int decode(const QString& path, imaging::DecodedImage& image) {
    imaging::Progress progress;
    return testsupport::decodeFile(path, image, progress);
}

// What a progress listener saw: some reports, never falling, within 0 to 100.
inline void expectRisingProgress(const std::vector<int>& seen) {
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GE(seen.front(), 0);
    EXPECT_LE(seen.back(), 100);
}

}  // namespace pixavant::testing
