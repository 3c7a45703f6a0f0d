#include <gtest/gtest.h>

#include <tuple>

#include "batch/BatchRules.h"

namespace pixavant::batch {
namespace {

// Each name by both rules: the program's first dot and the command line's --full-names.
TEST(OutputNaming, FirstOrLastDot) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"2024.06.01 beach.jpg", "2024", "2024.06.01 beach"},
        {"scan.2.tif", "scan", "scan.2"},
        {"photo.tif", "photo", "photo"},
        {"README", "README", "README"},
        {"trailing.", "trailing", "trailing"},
        {".hidden", "", ".hidden"},
        {".hidden.jpg", "", ".hidden"},
        {"archive.tar.gz", "archive", "archive.tar"},
    };
    for (const auto& [name, first, last] : cases) {
        const QString file = QString::fromUtf8(name);
        EXPECT_EQ(outputBaseName(file), QString::fromUtf8(first)) << name;
        EXPECT_EQ(outputBaseName(file, NamingRule::LastDot), QString::fromUtf8(last)) << name;
        EXPECT_EQ(outputFileName(file, "JXL", NamingRule::LastDot),
                  QString::fromUtf8(last) + ".JXL")
            << name;
    }
}

}  // namespace
}  // namespace pixavant::batch
