#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "app/Trash.h"

namespace pixavant {
namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes = "pixels") {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString uid() {
    return QString::number(::getuid());
}

// A private home without ~/.local/share, and a photo folder beside it on the same file system.
class TrashTest : public ::testing::Test {
  protected:
    void SetUp() override {
        savedHome_ = qgetenv("HOME");
        savedDataHome_ = qgetenv("XDG_DATA_HOME");
        qputenv("HOME", home_.path().toLocal8Bit());
        qunsetenv("XDG_DATA_HOME");
        photos = photos_.path() + "/";
    }
    void TearDown() override {
        qputenv("HOME", savedHome_);
        if (savedDataHome_.isNull())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", savedDataHome_);
    }
    QString homeTrash() const { return home_.path() + "/.local/share/Trash"; }

    QString photos;

  private:
    QTemporaryDir home_;
    QTemporaryDir photos_;
    QByteArray savedHome_;
    QByteArray savedDataHome_;
};

TEST_F(TrashTest, HomeTrashIsMadeWhenMissingAndRecordsWhereTheFileWas) {
    const QString name = "Holiday 100% é.jpg";
    ASSERT_TRUE(writeFile(photos + name));
    const Trash trash;
    EXPECT_EQ(trash.homeTrashDir(), homeTrash());

    QString error;
    const auto trashed = trash.moveToTrash(photos + name, &error);
    ASSERT_TRUE(trashed) << error.toStdString();
    EXPECT_EQ(*trashed, homeTrash() + "/files/" + name);
    EXPECT_EQ(readAll(*trashed), "pixels");
    EXPECT_FALSE(QFile::exists(photos + name));
    // Nothing grows among the photos.
    EXPECT_EQ(QDir(photos).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(homeTrash()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    const QByteArray info = readAll(homeTrash() + "/info/" + name + ".trashinfo");
    const QByteArray encodedDir = QFile::encodeName(photos).toPercentEncoding("/");
    EXPECT_TRUE(info.startsWith("[Trash Info]\nPath=" + encodedDir +
                                "Holiday%20100%25%20%C3%A9.jpg\nDeletionDate="))
        << info.toStdString();
    EXPECT_TRUE(QRegularExpression("\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n$")
                    .match(QString::fromUtf8(info))
                    .hasMatch())
        << info.toStdString();
}

TEST_F(TrashTest, NamesAlreadyInTheTrashAreNotReplaced) {
    const QString names[] = {"a.jpg", "a.jpg", "a.jpg", "README"};
    const QString expected[] = {"a.jpg", "a.2.jpg", "a.3.jpg", "README"};
    const Trash trash;
    // A file of the name without its record (left by another program) is kept too.
    ASSERT_TRUE(QDir().mkpath(homeTrash() + "/files"));
    ASSERT_TRUE(writeFile(homeTrash() + "/files/README", "old"));
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(writeFile(photos + names[i], QByteArray::number(i)));
        QString error;
        const auto trashed = trash.moveToTrash(photos + names[i], &error);
        ASSERT_TRUE(trashed) << error.toStdString();
        const QString want = i < 3 ? expected[i] : "README.2";
        EXPECT_EQ(*trashed, homeTrash() + "/files/" + want);
        EXPECT_EQ(readAll(*trashed), QByteArray::number(i));
        EXPECT_TRUE(QFile::exists(homeTrash() + "/info/" + want + ".trashinfo"));
    }
    EXPECT_EQ(readAll(homeTrash() + "/files/README"), "old");
}

TEST_F(TrashTest, DataHomeFromTheEnvironmentWhenAbsolute) {
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    EXPECT_EQ(Trash::homeTrashFromEnvironment(), data.path() + "/Trash");
    qputenv("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(Trash::homeTrashFromEnvironment(), homeTrash());
}

TEST_F(TrashTest, WhatCannotBeTrashedStaysAndLeavesNoRecord) {
    const Trash trash;
    QString error;
    EXPECT_FALSE(trash.moveToTrash(photos + "missing.jpg", &error));
    EXPECT_FALSE(error.isEmpty());
    ASSERT_TRUE(QDir().mkpath(photos + "folder"));
    EXPECT_FALSE(trash.moveToTrash(photos + "folder", &error));
    EXPECT_TRUE(QFileInfo(photos + "folder").isDir());

    // The trash's place is taken by a file: nothing can be made there.
    ASSERT_TRUE(QDir().mkpath(QFileInfo(homeTrash()).path()));
    ASSERT_TRUE(writeFile(homeTrash()));
    ASSERT_TRUE(writeFile(photos + "a.jpg"));
    EXPECT_FALSE(trash.moveToTrash(photos + "a.jpg", &error));
    EXPECT_TRUE(error.contains("not a folder")) << error.toStdString();
    EXPECT_TRUE(QFile::exists(photos + "a.jpg"));
}

TEST_F(TrashTest, ALinkIsTrashedAsTheLinkNotItsTarget) {
    ASSERT_TRUE(writeFile(photos + "target.jpg"));
    ASSERT_TRUE(QFile::link(photos + "target.jpg", photos + "link.jpg"));
    QString error;
    const auto trashed = Trash().moveToTrash(photos + "link.jpg", &error);
    ASSERT_TRUE(trashed) << error.toStdString();
    EXPECT_TRUE(QFileInfo(*trashed).isSymLink());
    EXPECT_EQ(readAll(photos + "target.jpg"), "pixels");
}

// A second file system: a tmpfs mounted for the test (when the test may mount).
class OtherFileSystemTrashTest : public TrashTest {
  protected:
    void SetUp() override {
        TrashTest::SetUp();
        ASSERT_TRUE(mountDir_.isValid());
        top = QDir(mountDir_.path()).canonicalPath();
        if (::mount("tmpfs", QFile::encodeName(top).constData(), "tmpfs", 0, "size=1m") != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno)
                         << "): the trash of another file system is not tested";
        mounted_ = true;
        ASSERT_TRUE(QDir().mkpath(top + "/scans"));
        ASSERT_TRUE(writeFile(top + "/scans/page 1.tif"));
    }
    void TearDown() override {
        if (mounted_)
            ::umount2(QFile::encodeName(top).constData(), MNT_DETACH);
        TrashTest::TearDown();
    }
    std::optional<QString> trashPage(QString* error) const {
        return Trash().moveToTrash(top + "/scans/page 1.tif", error);
    }

    QString top;

  private:
    QTemporaryDir mountDir_;
    bool mounted_ = false;
};

TEST_F(OtherFileSystemTrashTest, GoesToTheTrashAtTheTopOfItsFileSystem) {
    QString error;
    const auto trashed = trashPage(&error);
    ASSERT_TRUE(trashed) << error.toStdString();
    EXPECT_EQ(*trashed, top + "/.Trash-" + uid() + "/files/page 1.tif");
    EXPECT_EQ(readAll(top + "/.Trash-" + uid() + "/info/page 1.tif.trashinfo").split('\n')[1],
              "Path=scans/page%201.tif");
    EXPECT_FALSE(QFile::exists(homeTrash()));
    EXPECT_EQ(
        QDir(top + "/scans").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
        QStringList());
}

TEST_F(OtherFileSystemTrashTest, SharedTrashOnlyWithTheStickyBit) {
    struct Case {
        mode_t mode;
        bool shared;
    };
    for (const Case c : {Case{01777, true}, Case{0777, false}}) {
        SCOPED_TRACE(c.mode);
        QDir(top + "/.Trash").removeRecursively();
        QDir(top + "/.Trash-" + uid()).removeRecursively();
        ASSERT_TRUE(writeFile(top + "/scans/page 1.tif"));
        ASSERT_EQ(::mkdir(QFile::encodeName(top + "/.Trash").constData(), 0700), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(top + "/.Trash").constData(), c.mode), 0);
        QString error;
        const auto trashed = trashPage(&error);
        ASSERT_TRUE(trashed) << error.toStdString();
        const QString dir = c.shared ? top + "/.Trash/" + uid() : top + "/.Trash-" + uid();
        EXPECT_EQ(*trashed, dir + "/files/page 1.tif");
    }
}

TEST_F(OtherFileSystemTrashTest, ALinkedTrashFolderIsRefused) {
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QFile::link(elsewhere.path(), top + "/.Trash-" + uid()));
    QString error;
    EXPECT_FALSE(trashPage(&error));
    EXPECT_TRUE(error.contains("not a trash folder")) << error.toStdString();
    EXPECT_TRUE(QFile::exists(top + "/scans/page 1.tif"));
    EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
}

}  // namespace
}  // namespace pixavant
