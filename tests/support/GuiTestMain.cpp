#include <gtest/gtest.h>

#include <csignal>

#include <QApplication>

int main(int argc, char** argv) {
    // As the program does: a write past the file-size limit fails with EFBIG instead of ending
    // the process.
    std::signal(SIGXFSZ, SIG_IGN);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
