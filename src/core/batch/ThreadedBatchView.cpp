#include "batch/ThreadedBatchView.h"

#include <QMetaObject>
#include <QThread>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>

namespace pixavant::batch {

namespace {
// How often a waiting call looks whether the view has been detached meanwhile.
constexpr auto kDetachPoll = std::chrono::milliseconds(10);
}  // namespace

// What the worker and the context's thread share; outlives either side. Calls are handed over
// under the mutex, so that none is on its way to a context that detach() has let go.
struct ThreadedBatchView::Link {
    BatchView* target = nullptr;
    QObject* context = nullptr;
    QThread* thread = nullptr;
    std::mutex mutex;
    std::atomic<bool> detached{false};

    bool onContextThread() const { return QThread::currentThread() == thread; }

    // Queues `call` for the context's thread; false when detached.
    template <typename Call>
    bool send(const std::shared_ptr<Link>& self, Call call) {
        std::lock_guard lock(mutex);
        if (detached)
            return false;
        QMetaObject::invokeMethod(
            context,
            [self, call] {
                // Checked again on arrival: the window may have closed since.
                if (!self->detached)
                    call(*self->target);
            },
            Qt::QueuedConnection);
        return true;
    }
};

ThreadedBatchView::ThreadedBatchView(BatchView& target, QObject* context)
    : link_(std::make_shared<Link>()) {
    link_->target = &target;
    link_->context = context;
    link_->thread = context->thread();
}

ThreadedBatchView::~ThreadedBatchView() = default;

void ThreadedBatchView::detach() {
    std::lock_guard lock(link_->mutex);
    link_->detached = true;
}

template <typename Call>
void ThreadedBatchView::post(Call call) const {
    if (link_->detached)
        return;
    if (link_->onContextThread())
        call(*link_->target);
    else
        link_->send(link_, call);
}

template <typename Result, typename Call>
Result ThreadedBatchView::ask(Call call) const {
    if (link_->detached)
        return Result();
    if (link_->onContextThread())
        return call(*link_->target);
    auto answer = std::make_shared<std::promise<Result>>();
    std::future<Result> future = answer->get_future();
    // The answer is given only when the call arrives; a call dropped on the way (detached, or its
    // context destroyed) breaks the promise instead.
    const bool sent =
        link_->send(link_, [call, answer](BatchView& v) { answer->set_value(call(v)); });
    if (!sent)
        return Result();
    while (future.wait_for(kDetachPoll) != std::future_status::ready) {
        if (link_->detached)
            return Result();
    }
    try {
        return future.get();
    } catch (const std::future_error&) {
        return Result();
    }
}

void ThreadedBatchView::setTotalFileLeft(const QString& text) {
    post([text](BatchView& v) { v.setTotalFileLeft(text); });
}
void ThreadedBatchView::setSingleFileName(const QString& text) {
    post([text](BatchView& v) { v.setSingleFileName(text); });
}
void ThreadedBatchView::setTotalPct(const QString& text) {
    post([text](BatchView& v) { v.setTotalPct(text); });
}
void ThreadedBatchView::setSinglePct(const QString& text) {
    post([text](BatchView& v) { v.setSinglePct(text); });
}
void ThreadedBatchView::setTotalBar(float value) {
    post([value](BatchView& v) { v.setTotalBar(value); });
}
void ThreadedBatchView::setSingleBar(float value) {
    post([value](BatchView& v) { v.setSingleBar(value); });
}
void ThreadedBatchView::setTimerEnabled(bool enabled) {
    post([enabled](BatchView& v) { v.setTimerEnabled(enabled); });
}
void ThreadedBatchView::setTimerInterval(int milliseconds) {
    post([milliseconds](BatchView& v) { v.setTimerInterval(milliseconds); });
}
int ThreadedBatchView::workCount() const {
    return ask<int>([](BatchView& v) { return v.workCount(); });
}
QString ThreadedBatchView::workEntry(int index) const {
    return ask<QString>([index](BatchView& v) { return v.workEntry(index); });
}
QString ThreadedBatchView::workFolder(int index) const {
    return ask<QString>([index](BatchView& v) { return v.workFolder(index); });
}
int ThreadedBatchView::sourceCount() const {
    return ask<int>([](BatchView& v) { return v.sourceCount(); });
}
QString ThreadedBatchView::sourceEntry(int index) const {
    return ask<QString>([index](BatchView& v) { return v.sourceEntry(index); });
}
void ThreadedBatchView::addSourceEntry(const QString& entry) {
    post([entry](BatchView& v) { v.addSourceEntry(entry); });
}
void ThreadedBatchView::setSourceCountLabel(const QString& text) {
    post([text](BatchView& v) { v.setSourceCountLabel(text); });
}
void ThreadedBatchView::addToSourceList(const QString& entry) {
    post([entry](BatchView& v) { v.addToSourceList(entry); });
}
void ThreadedBatchView::showMessage(const QString& text, const QString& details) {
    ask<bool>([text, details](BatchView& v) {
        v.showMessage(text, details);
        return true;
    });
}
void ThreadedBatchView::closeWindow() {
    post([](BatchView& v) { v.closeWindow(); });
}
void ThreadedBatchView::progressStatus(int16_t percent, const RunState& state) {
    post([percent, state](BatchView& v) { v.progressStatus(percent, state); });
}
void ThreadedBatchView::fileConverted(const QString& sourcePath, const QString& outputPath) {
    post([sourcePath, outputPath](BatchView& v) { v.fileConverted(sourcePath, outputPath); });
}

}  // namespace pixavant::batch
