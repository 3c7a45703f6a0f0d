#pragma once

#include <QObject>
#include <memory>

#include "batch/BatchView.h"

namespace pixavant::batch {

// The view of an engine that runs on a worker thread: hands every call over to `target` on the
// thread of `context` (a window's), in the order they were made. Calls that return something, and
// showMessage(), wait there for the answer; the others do not wait. A call made on the context's
// own thread goes straight to the target.
//
// After detach() (on the context's thread, when the window closes) nothing reaches the target any
// more, not even calls already on their way: waiting calls return at once with empty answers.
class ThreadedBatchView final : public BatchView {
  public:
    ThreadedBatchView(BatchView& target, QObject* context);
    ~ThreadedBatchView() override;
    ThreadedBatchView(const ThreadedBatchView&) = delete;
    ThreadedBatchView& operator=(const ThreadedBatchView&) = delete;

    void detach();

    void setTotalFileLeft(const QString& text) override;
    void setSingleFileName(const QString& text) override;
    void setTotalPct(const QString& text) override;
    void setSinglePct(const QString& text) override;
    void setTotalBar(float value) override;
    void setSingleBar(float value) override;
    void setTimerEnabled(bool enabled) override;
    void setTimerInterval(int milliseconds) override;
    int workCount() const override;
    QString workEntry(int index) const override;
    QString workFolder(int index) const override;
    int sourceCount() const override;
    QString sourceEntry(int index) const override;
    void addSourceEntry(const QString& entry) override;
    void setSourceCountLabel(const QString& text) override;
    void addToSourceList(const QString& entry) override;
    void showMessage(const QString& text, const QString& details) override;
    void closeWindow() override;
    void progressStatus(int16_t percent, const RunState& state) override;
    void fileConverted(const QString& sourcePath, const QString& outputPath) override;

  private:
    struct Link;
    template <typename Call>
    void post(Call call) const;
    template <typename Result, typename Call>
    Result ask(Call call) const;

    std::shared_ptr<Link> link_;
};

}  // namespace pixavant::batch
