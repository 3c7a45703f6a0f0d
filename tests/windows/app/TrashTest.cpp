#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "Bytes.h"
#include "app/Trash.h"

namespace pixavant {
namespace {

using testing::readBytes;

bool writeFile(const QString& path, const QByteArray& bytes = "pixels") {
    return testing::writeBytes(path, bytes);
}

QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

const QString kUid = QString::number(::getuid());

// A private home without ~/.local/share, and a photo folder beside it on the same file system.
class TrashTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = {qgetenv("HOME"), qgetenv("XDG_DATA_HOME")};
        qputenv("HOME", home_.path().toLocal8Bit());
        qunsetenv("XDG_DATA_HOME");
        photos = photos_.path() + "/";
        homeTrash = home_.path() + "/.local/share/Trash";
    }
    void TearDown() override {
        qputenv("HOME", saved_[0]);
        saved_[1].isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", saved_[1]);
    }

    QString photos;
    QString homeTrash;

  private:
    QTemporaryDir home_;
    QTemporaryDir photos_;
    std::array<QByteArray, 2> saved_;
};

TEST_F(TrashTest, HomeTrashIsMadeWhenMissingAndRecordsWhereTheFileWas) {
    const QString name = "Holiday 100% é.jpg";
    ASSERT_TRUE(writeFile(photos + name));
    const Trash trash;
    EXPECT_EQ(trash.homeTrashDir(), homeTrash);
    QString error;
    const auto trashed = trash.moveToTrash(photos + name, &error);
    ASSERT_TRUE(trashed) << error.toStdString();
    EXPECT_EQ(*trashed, homeTrash + "/files/" + name);
    EXPECT_EQ(readBytes(*trashed), "pixels");
    EXPECT_EQ(entries(photos), QStringList());  // nothing left or made among the photos
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(homeTrash).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    const QString info = QString::fromUtf8(readBytes(homeTrash + "/info/" + name + ".trashinfo"));
    const QString path = QFile::encodeName(photos).toPercentEncoding("/");
    EXPECT_TRUE(QRegularExpression("^\\[Trash Info\\]\nPath=" + QRegularExpression::escape(path) +
                                   "Holiday%20100%25%20%C3%A9\\.jpg\n"
                                   "DeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n$")
                    .match(info)
                    .hasMatch())
        << info.toStdString();

    // A relative XDG_DATA_HOME is invalid and ignored.
    qputenv("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(Trash::homeTrashFromEnvironment(), homeTrash);
    qputenv("XDG_DATA_HOME", "/data");
    EXPECT_EQ(Trash::homeTrashFromEnvironment(), "/data/Trash");
}

TEST_F(TrashTest, NothingInTheTrashIsReplaced) {
    const Trash trash;
    // A file of the name without its record (left by another program) is kept too.
    ASSERT_TRUE(QDir().mkpath(homeTrash + "/files"));
    ASSERT_TRUE(writeFile(homeTrash + "/files/README", "old"));
    const std::pair<const char*, const char*> moves[] = {
        {"a.jpg", "a.jpg"}, {"a.jpg", "a.2.jpg"}, {"a.jpg", "a.3.jpg"}, {"README", "README.2"}};
    for (const auto& [name, inTrash] : moves) {
        ASSERT_TRUE(writeFile(photos + name, inTrash));
        QString error;
        EXPECT_EQ(trash.moveToTrash(photos + name, &error), homeTrash + "/files/" + inTrash);
        EXPECT_EQ(readBytes(homeTrash + "/files/" + inTrash), inTrash);
        EXPECT_TRUE(QFile::exists(homeTrash + "/info/" + inTrash + ".trashinfo"));
    }
    EXPECT_EQ(readBytes(homeTrash + "/files/README"), "old");

    // A link goes as the link; its target stays.
    ASSERT_TRUE(QFile::link(photos + "target.jpg", photos + "link.jpg"));
    QString error;
    const auto link = trash.moveToTrash(photos + "link.jpg", &error);
    ASSERT_TRUE(link) << error.toStdString();
    EXPECT_TRUE(QFileInfo(*link).isSymLink());
}

TEST_F(TrashTest, WhatCannotBeTrashedStaysAndLeavesNoRecord) {
    const Trash trash;
    QString error;
    EXPECT_FALSE(trash.moveToTrash(photos + "missing.jpg", &error));
    ASSERT_TRUE(QDir().mkpath(photos + "folder"));
    EXPECT_FALSE(trash.moveToTrash(photos + "folder", &error));
    // The trash's place is taken by a file: nothing can be made there.
    ASSERT_TRUE(QDir().mkpath(QFileInfo(homeTrash).path()));
    ASSERT_TRUE(writeFile(homeTrash));
    ASSERT_TRUE(writeFile(photos + "a.jpg"));
    EXPECT_FALSE(trash.moveToTrash(photos + "a.jpg", &error));
    EXPECT_TRUE(error.contains("not a folder")) << error.toStdString();
    EXPECT_EQ(entries(photos), QStringList({"a.jpg", "folder"}));
}

// A file on a second file system (a tmpfs mounted for the test, where the test may mount) goes to
// the trash at the top of that file system: .Trash/UID when .Trash is a real folder with the
// sticky bit, otherwise .Trash-UID, never a link.
TEST_F(TrashTest, OtherFileSystemsUseTheTrashAtTheirTop) {
    QTemporaryDir mountDir;
    const QString top = QDir(mountDir.path()).canonicalPath();
    if (::mount("tmpfs", QFile::encodeName(top).constData(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno)
                     << "): the trash of another file system is not tested";
    struct Unmount {
        QString top;
        ~Unmount() { ::umount2(QFile::encodeName(top).constData(), MNT_DETACH); }
    } unmount{top};
    QTemporaryDir elsewhere;

    struct Case {
        const char* setUp;  // what stands at the top of the file system beforehand
        const char* trashDir;
    };
    const Case cases[] = {{"", ".Trash-UID"},
                          {".Trash 1777", ".Trash/UID"},
                          {".Trash 0777", ".Trash-UID"},  // no sticky bit: not to be shared
                          {".Trash-UID link", nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setUp);
        QDir(top + "/.Trash").removeRecursively();
        QDir(top + "/.Trash-" + kUid).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(top + "/scans"));
        ASSERT_TRUE(writeFile(top + "/scans/page 1.tif"));
        const QString setUp = QString::fromLatin1(c.setUp).replace("UID", kUid);
        if (setUp.endsWith("link")) {
            ASSERT_TRUE(QFile::link(elsewhere.path(), top + "/" + setUp.section(' ', 0, 0)));
        } else if (!setUp.isEmpty()) {
            const QByteArray trash = QFile::encodeName(top + "/.Trash");
            ASSERT_EQ(::mkdir(trash.constData(), 0700), 0);
            ASSERT_EQ(::chmod(trash.constData(), mode_t(setUp.section(' ', 1).toInt(nullptr, 8))),
                      0);
        }

        QString error;
        const auto trashed = Trash().moveToTrash(top + "/scans/page 1.tif", &error);
        if (!c.trashDir) {
            EXPECT_FALSE(trashed);
            EXPECT_TRUE(error.contains("not a trash folder")) << error.toStdString();
            EXPECT_EQ(entries(top + "/scans"), QStringList("page 1.tif"));
            EXPECT_EQ(entries(elsewhere.path()), QStringList());
            continue;
        }
        const QString dir = top + "/" + QString::fromLatin1(c.trashDir).replace("UID", kUid);
        ASSERT_TRUE(trashed) << error.toStdString();
        EXPECT_EQ(*trashed, dir + "/files/page 1.tif");
        // The path relative to the top, which may be mounted elsewhere next time.
        EXPECT_EQ(readBytes(dir + "/info/page 1.tif.trashinfo").split('\n').value(1),
                  "Path=scans/page%201.tif");
        EXPECT_EQ(entries(top + "/scans"), QStringList());
        EXPECT_FALSE(QFile::exists(homeTrash));
    }
}

}  // namespace
}  // namespace pixavant
