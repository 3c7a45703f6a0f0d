#include <gtest/gtest.h>

#include <unistd.h>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>

#include "AppFixtures.h"
#include "browse/DirectoryBrowser.h"
#include "common/Message.h"

namespace pixavant {
namespace {

using testing::FixtureDir;
using Mode = DirectoryBrowser::Mode;

class DirectoryBrowserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::resetState();
        previous_ =
            setMessageHandler([this](QWidget*, const QString& text) { messages.append(text); });
    }
    void TearDown() override { setMessageHandler(previous_); }

    // The directory list's entries, and the row of one of them.
    static QStringList entries(DirectoryBrowser& browser) {
        auto* list = browser.findChild<QListWidget*>("Dir1");
        QStringList lines;
        for (int i = 0; i < list->count(); ++i)
            lines.append(list->item(i)->text());
        return lines;
    }
    static int rowOf(DirectoryBrowser& browser, const QString& name) {
        return int(entries(browser).lastIndexOf(name));
    }

    QStringList messages;

  private:
    MessageHandler previous_;
};

// Both pickers open at the source directory. The source picker stores what is open at OK (the
// output directory too), with one slash; the output picker only hands it back.
TEST_F(DirectoryBrowserTest, PickersStoreOrHandBackThePathOnlyAtOk) {
    FixtureDir dir({"images/"});
    const std::tuple<Mode, bool, QString, QString> cases[] = {
        {Mode::Source, true, dir.path() + "images/", dir.path() + "images/"},
        {Mode::Output, true, dir.path(), "/elsewhere/"},
        {Mode::Output, false, dir.path(), "/elsewhere/"}};
    for (const auto& [mode, ok, sourceDir, outputDir] : cases) {
        appState().SourceDir = dir.path();
        compressionSettings().OutputDir = "/elsewhere/";
        DirectoryBrowser browser(mode);
        EXPECT_EQ(browser.path() + "/", dir.path());
        ASSERT_TRUE(browser.openItem(rowOf(browser, "images")));  // a double-click
        EXPECT_EQ(appState().SourceDir, dir.path());              // nothing stored before OK
        ok ? browser.findChild<QPushButton*>("OK")->click() : browser.reject();
        EXPECT_EQ(browser.result(), ok ? QDialog::Accepted : QDialog::Rejected);
        EXPECT_EQ(std::pair(appState().SourceDir, compressionSettings().OutputDir),
                  std::pair(sourceDir, outputDir));
        if (mode == Mode::Output) {
            EXPECT_EQ(browser.chosenPath(),
                      ok ? std::optional(dir.path() + "images") : std::nullopt);
        }
    }
    appState().SourceDir = "/";
    DirectoryBrowser root(Mode::Source);
    EXPECT_EQ(std::pair(root.path(), root.drive()), std::pair(QString("/"), QString("/")));
    root.okClick();
    EXPECT_EQ(std::pair(appState().SourceDir, compressionSettings().OutputDir),
              std::pair(QString("/"), QString("/")));
}

TEST_F(DirectoryBrowserTest, ListShowsParentsThenSubdirectoriesAndOpensEither) {
    FixtureDir dir({"b/", "A/", "c/deeper/", ".hidden/", "file.gif"});
    appState().SourceDir = dir.path() + "c/";
    DirectoryBrowser browser(Mode::Output);
    const QStringList lines = entries(browser);
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines.front(), "/");
    EXPECT_EQ(lines.mid(lines.size() - 2), QStringList({"c", "deeper"}));
    // The open directory is highlighted.
    auto* list = browser.findChild<QListWidget*>("Dir1");
    EXPECT_EQ(list->currentItem()->text(), "c");

    // Up to the parent: its subdirectories in name order, letter case ignored, hidden ones left
    // out.
    ASSERT_TRUE(browser.openItem(lines.size() - 3));
    EXPECT_EQ(browser.path() + "/", dir.path());
    const QStringList parent = entries(browser);
    EXPECT_EQ(parent.mid(parent.size() - 3), QStringList({"A", "b", "c"}));
    EXPECT_FALSE(browser.openItem(999));
}

TEST_F(DirectoryBrowserTest, UnreadableDirectoryKeepsThePreviousOne) {
    FixtureDir dir({"gone/", "stay/", "locked/"});
    appState().SourceDir = dir.path() + "vanished/";
    DirectoryBrowser browser(Mode::Source);
    EXPECT_EQ(browser.path(), "/");  // an unreadable start opens at the root, quietly
    EXPECT_TRUE(messages.isEmpty());

    ASSERT_TRUE(browser.setPath(dir.path()));
    const int row = rowOf(browser, "gone");
    QDir(dir.path()).rmdir("gone");
    EXPECT_FALSE(browser.openItem(row));
    EXPECT_EQ(browser.path() + "/", dir.path());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("gone"));
    EXPECT_FALSE(browser.setPath(dir.path() + "missing"));
    if (geteuid() != 0) {  // permissions do not apply to root
        QFile::setPermissions(dir.path() + "locked", QFileDevice::ReadOwner);
        EXPECT_FALSE(browser.setPath(dir.path() + "locked"));
        QFile::setPermissions(dir.path() + "locked", QFileDevice::ReadOwner |
                                                         QFileDevice::WriteOwner |
                                                         QFileDevice::ExeOwner);
    }
    EXPECT_EQ(browser.path() + "/", dir.path());
    browser.okClick();
    EXPECT_EQ(appState().SourceDir, dir.path());
}

TEST_F(DirectoryBrowserTest, ChoosingADriveMovesToItsMountPoint) {
    FixtureDir dir({"mnt/usb/photos/", "mnt/usbstick/", "work/"});
    appState().SourceDir = dir.path() + "work/";
    DirectoryBrowser browser(Mode::Source);
    const QString usb = dir.path() + "mnt/usb";
    browser.setDrives({"/", usb, dir.path() + "mnt/absent"});
    EXPECT_EQ(browser.drive(), "/");

    auto* drives = browser.findChild<QComboBox*>("Drive1");
    ASSERT_TRUE(browser.setDrive(usb));
    EXPECT_EQ(QStringList({browser.drive(), browser.path(), drives->currentText()}),
              QStringList({usb, usb, usb}));

    // A drive that cannot be read, chosen by the user: told, and drive and directory stay.
    emit drives->activated(2);
    EXPECT_EQ(messages.size(), 1);
    EXPECT_FALSE(browser.setDrive(dir.path() + "mnt/absent"));
    EXPECT_EQ(QStringList({browser.drive(), browser.path(), drives->currentText()}),
              QStringList({usb, usb, usb}));

    // The directory list follows with the drive list: the deepest mount holding the directory
    // (a name that only starts like a mount point is not in it).
    for (const auto& [path, drive] :
         {std::pair(dir.path() + "work", QString("/")), std::pair(usb + "/photos", usb),
          std::pair(usb + "stick", QString("/"))}) {
        ASSERT_TRUE(browser.setPath(path));
        EXPECT_EQ(browser.drive(), drive) << path.toStdString();
    }
}

TEST(DirectoryBrowserDrives, MountsTableGivesRootFirstWithoutSystemFileSystems) {
    const QString mounts =
        "proc /proc proc rw 0 0\n"
        "sysfs /sys sysfs rw 0 0\n"
        "/dev/sda2 /home ext4 rw 0 0\n"
        "devtmpfs /dev devtmpfs rw 0 0\n"
        "/dev/sda1 / ext4 rw 0 0\n"
        "tmpfs /run tmpfs rw 0 0\n"
        "/dev/sdb1 /run/media/ann/USB\\040STICK vfat rw 0 0\n"
        "/dev/sdc1 /media/backup ext4 rw 0 0\n"
        "cgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n"
        "/dev/loop0 /snap/core/1 squashfs ro 0 0\n"
        "server:/export /mnt/nfs nfs4 rw 0 0\n"
        "/dev/sda2 /home ext4 rw 0 0\n"
        "garbage\n";
    EXPECT_EQ(DirectoryBrowser::drivesFromMounts(mounts),
              QStringList({"/", "/home", "/media/backup", "/mnt/nfs", "/run/media/ann/USB STICK"}));
    EXPECT_EQ(DirectoryBrowser::drivesFromMounts(QString()), QStringList({"/"}));
}

}  // namespace
}  // namespace pixavant
