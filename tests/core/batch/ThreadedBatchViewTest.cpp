#include "batch/ThreadedBatchView.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <thread>

#include "FakeBatchView.h"
#include "settings/AppState.h"

namespace pixavant::batch {
namespace {

// Notes whether every call ran on the window's thread, and whether the worker was still waiting
// when its message was shown.
class WindowSide : public test::FakeBatchView {
  public:
    std::atomic<bool> workerPastMessage{false};
    bool messageWhileWorkerWaited = false;
    bool allOnWindowThread = true;

    void showMessage(const QString& text, const QString& details) override {
        messageWhileWorkerWaited = !workerPastMessage;
        FakeBatchView::showMessage(text, details);
    }
    void setTotalFileLeft(const QString& t) override {
        allOnWindowThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        FakeBatchView::setTotalFileLeft(t);
    }
};

TEST(ThreadedBatchView, WorkerCallsArriveInOrderAndAnswersComeBack) {
    WindowSide window;
    window.work = {" a.jpg", " b.jpg"};
    window.sources = {" a.jpg"};
    QObject context;
    ThreadedBatchView view(window, &context);
    int count = -1;
    QString entry;
    std::atomic<bool> done{false};
    std::thread worker([&] {  // while this thread services its events
        view.setTotalFileLeft("2 files");
        count = view.workCount();
        entry = view.workEntry(1);
        view.addToSourceList(" a.JPG");
        view.showMessage("Compression error.", "File: a.jpg");
        window.workerPastMessage = true;
        view.closeWindow();
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(count, 2);
    EXPECT_EQ(entry, " b.jpg");
    EXPECT_EQ(window.calls, (QStringList{"TotalFileLeft=2 files", "AddSource= a.JPG",
                                         "Label1=Source Files(s)" + QString(20, ' ') + "2 files",
                                         "Message=Compression error.", "Close"}));
    EXPECT_TRUE(window.messageWhileWorkerWaited);  // the worker waited for the message
    EXPECT_TRUE(window.allOnWindowThread);
    // The source list was added to with the list-click updates off, then on again.
    EXPECT_FALSE(window.clickUpdatesWhileAdding);
    EXPECT_TRUE(appState().ListClickUpdatesEnabled);
    // On the window's own thread a call goes straight through, without an event loop.
    view.setSingleBar(50);
    EXPECT_EQ(window.calls.last(), "SingleBar=50");
}

TEST(ThreadedBatchView, AfterDetachNothingReachesTheWindowAndNoCallWaits) {
    test::FakeBatchView window;
    window.work = {" a.jpg"};
    QObject context;
    ThreadedBatchView view(window, &context);
    std::atomic<int> count{-1};
    std::atomic<bool> posted{false};
    std::thread worker([&] {
        view.setTotalFileLeft("1 files");  // on its way when the window closes
        posted = true;
        count = view.workCount();  // waits: this thread services nothing meanwhile
        view.showMessage("never shown", {});
        view.closeWindow();
    });
    while (!posted)
        std::this_thread::yield();
    view.detach();  // the window closes
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(window.calls.isEmpty()) << window.calls.join(", ").toStdString();
}

}  // namespace
}  // namespace pixavant::batch
