#include <gtest/gtest.h>

#include <unistd.h>
#include <QFile>

#include "AppFixtures.h"
#include "RawNames.h"
#include "app/SourceScan.h"
#include "imaging/FileNames.h"

namespace pixavant {
namespace {

using testing::FixtureDir;

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

TEST(SourceScan, ListsEveryPatternInAnyCaseByPatternThenName) {
    const QStringList images = {"a.gif", "b.jpg",  "c.tif",  "d.mpeg", "e.mov",  "f.pict",
                                "g.tga", "h.pcx",  "i.eps",  "j.rle",  "k.jpeg", "l.tiff",
                                "m.wmf", "n.bmp",  "o.cmp",  "p.jxl",  "Q.GIF",  "R.Jpg",
                                "s.png", "t.webp", "u.heic", "v.heif", "w.avif", "X.HEIC"};
    FixtureDir dir(images);
    dir.add({"x.apng", "readme.txt", "gif", "jpg.", "a.gif.bak", "noext", "b.jpgx"});
    EXPECT_EQ(sorted(scanSourceDirectory(dir.path())), sorted(images));

    FixtureDir order({"z.jpg", "b.gif", "a.jpg", "c.gif"});
    EXPECT_EQ(scanSourceDirectory(order.path()), QStringList({"b.gif", "c.gif", "a.jpg", "z.jpg"}));
}

TEST(SourceScan, SkipsHiddenFilesDirectoriesAndSpecialFiles) {
    FixtureDir dir({"seen.gif", ".hidden.gif", "y.gif/", "folder.jpg/", "sub/inner.gif"});
    // A link to a file is listed like the file; a dangling link is not.
    ASSERT_TRUE(QFile::link(dir.path() + "seen.gif", dir.path() + "link.gif"));
    ASSERT_TRUE(QFile::link(dir.path() + "missing.gif", dir.path() + "dangling.gif"));
    ASSERT_EQ(mkfifo((dir.path() + "pipe.gif").toLocal8Bit().constData(), 0600), 0);
    EXPECT_EQ(sorted(scanSourceDirectory(dir.path())), QStringList({"link.gif", "seen.gif"}));
}

TEST(SourceScan, ListsNamesThatAreNotUtf8) {
    // Latin-1 names from an old disk: listed by their bytes, so that the run finds them again.
    FixtureDir dir({"plain.jpg", "a.gif", "b.tif"});
    const QByteArray raw = QFile::encodeName(dir.path());
    ASSERT_EQ(::rename(raw + "a.gif", raw + "Caf\xe9.gif"), 0);
    ASSERT_EQ(::rename(raw + "b.tif", raw + "\xc9t\xe9.TIF"), 0);
    const QStringList names = scanSourceDirectory(dir.path());
    ASSERT_EQ(names.size(), 3);
    EXPECT_EQ(imaging::encodeFileName(names[0]), "Caf\xe9.gif");
    EXPECT_EQ(names[1], "plain.jpg");
    EXPECT_EQ(imaging::displayFileName(names[2]), "\\xC9t\\xE9.TIF");
    testing::removeTreeByBytes(dir.path());
}

TEST(SourceScan, MissingOrUnreadableDirectoryGivesNothing) {
    FixtureDir dir({"locked/a.gif"});
    EXPECT_TRUE(scanSourceDirectory(dir.path() + "gone/").isEmpty());
    if (geteuid() == 0)
        return;  // permissions do not apply to root
    QFile::setPermissions(dir.path() + "locked", QFileDevice::WriteOwner);
    EXPECT_TRUE(scanSourceDirectory(dir.path() + "locked/").isEmpty());
    QFile::setPermissions(dir.path() + "locked",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// An item is a blank and the name; only the list's own blank goes, names keep blanks of their own.
TEST(SourceScan, ItemsAndPathsAndCountTexts) {
    EXPECT_EQ(listItemFileName(listItemText("  spaced .jpg ")), "  spaced .jpg ");
    EXPECT_EQ(listItemPath("/pics/", " a.gif"), "/pics/a.gif");
    EXPECT_EQ(workCountText(12345), "Destination Files(s)" + QString(20, ' ') + "12345 files");
}

}  // namespace
}  // namespace pixavant
