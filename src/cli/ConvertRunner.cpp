#include "cli/ConvertRunner.h"

#include <pthread.h>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "imaging/FileInfo.h"
#include "imaging/FileNames.h"

namespace pixavant::cli {

namespace {

// Files read ahead of the first one not yet reported: bounds what waits to be reported behind a
// large file, and is the tail that starts largest first.
constexpr int64_t kLookAhead = 512;
constexpr auto kTick = std::chrono::milliseconds(100);  // progress and interruption checks
using Clock = std::chrono::steady_clock;

struct Task {
    int64_t index = 0;
    QString path;
    QString treeBase;   // for a file of a tree: SourceList::lastTreeBase()
    bool tail = false;  // one of the last files, which start largest first
    int64_t cost = 0;   // pixels, for the files of the tail; 0 when unknown
    uint64_t outputKey = 0;
    bool sharesOutput = false;  // another file of the list writes the same output
};

int64_t pixelCost(const QString& path) {
    imaging::FileInfoRecord info;
    if (imaging::readFileInfo(path, info) != imaging::kSuccess || info.Width <= 0 ||
        info.Height <= 0)
        return 0;
    return int64_t(info.Width) * info.Height;
}

void count(RunSummary& summary, const FileOutcome& outcome) {
    switch (outcome.result) {
        case FileOutcome::Result::Converted:
            ++summary.converted;
            break;
        case FileOutcome::Result::Skipped:
            ++summary.skipped;
            break;
        case FileOutcome::Result::Failed:
            ++summary.failed;
            break;
        case FileOutcome::Result::Abandoned:
            ++summary.abandoned;
            break;
    }
}

// The files at most whose names a refused run reads back to name the clashes.
constexpr qsizetype kClashNamesRead = 10000;

// The clashes among the files whose outputs `shared` holds: the list read once more, those files'
// names kept. Empty when the keys only collided.
std::vector<batch::OutputClash> namedClashes(const ConvertJob& job, SourceList& list,
                                             const PathKeys& shared, const QString& cwd,
                                             QString& error) {
    QStringList sources;
    QStringList outputs;
    if (!list.start(error))
        return {};
    for (;;) {
        QString path;
        if (list.next(path, error) != SourceList::Next::Name || sources.size() >= kClashNamesRead)
            break;
        const QString output =
            outputPathFor(job, absoluteCleanPath(path, cwd), list.lastTreeBase());
        if (!shared.contains(output))
            continue;
        sources << path;
        outputs << output;
    }
    return batch::findOutputClashes(sources, outputs);
}

// One run: the coordinating thread reads the list and reports; the workers convert. With one job
// the coordinating thread converts too, one file after the other: no other thread allocates while
// it works, so the heap is used as it is by a single conversion.
class Run {
  public:
    Run(const ConvertJob& job, const std::function<bool()>& interrupted,
        const std::vector<ConvertRunner::AfterWrite>& afterWrite, const PathKeys& sources,
        const PathKeys& outputs, const PathKeys& sharedOutputs, QString cwd, int64_t total,
        int workers)
        : job_(job),
          interrupted_(interrupted),
          afterWrite_(afterWrite),
          sources_(sources),
          outputs_(outputs),
          sharedOutputs_(sharedOutputs),
          cwd_(std::move(cwd)),
          total_(total),
          workers_(workers),
          percent_(std::make_unique<std::atomic<int>[]>(size_t(workers))) {}

    RunSummary drive(SourceList& list, RunListener& listener);

  private:
    void readAhead(SourceList& list, std::unique_lock<std::mutex>& lock, RunSummary& summary);
    void reportInOrder(RunListener& listener, std::unique_lock<std::mutex>& lock,
                       RunSummary& summary);
    // Whether the list may be read further: not stopped, not at its end, and not too far ahead of
    // the outcomes reported.
    bool mayRead() const { return !stop_ && !exhausted_ && read_ - reported_ < kLookAhead; }
    void work(int slot);
    std::deque<Task>::iterator nextTask();
    Task take(std::deque<Task>::iterator next);
    void convert(Task task, int slot, const ConversionHooks& hooks);
    bool shouldStop();
    RunProgress snapshot() const;
    void tick(RunListener& listener);

    const ConvertJob& job_;
    const std::function<bool()>& interrupted_;
    const std::vector<ConvertRunner::AfterWrite>& afterWrite_;
    const PathKeys& sources_;
    const PathKeys& outputs_;
    const PathKeys& sharedOutputs_;
    const QString cwd_;
    const int64_t total_;
    const int workers_;

    std::mutex mutex_;
    std::condition_variable workReady_;
    std::condition_variable outcomeReady_;
    std::deque<Task> pending_;
    std::map<int64_t, FileOutcome> outcomes_;  // finished, not yet reported
    bool exhausted_ = false;
    bool tailKnown_ = false;  // the list has been read, or no more of it can be read for now
    bool shutdown_ = false;
    int running_ = 0;
    std::set<uint64_t> runningOutputs_;  // shared outputs being written
    int64_t finished_ = 0;
    int64_t read_ = 0;      // files read from the list
    int64_t reported_ = 0;  // outcomes reported
    QString latest_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> interruptSeen_{false};
    std::unique_ptr<std::atomic<int>[]> percent_;        // each worker's file, 0 to 100
    Clock::time_point nextTick_ = Clock::now() + kTick;  // the coordinating thread's
};

bool Run::shouldStop() {
    if (stop_.load())
        return true;
    if (interrupted_()) {
        interruptSeen_ = true;
        stop_ = true;
        return true;
    }
    return false;
}

// Called with the mutex held: the task to start next, or pending_.end() when none may start. Files
// start in list order, the tail largest first once the whole list has been read. Files that write
// the same output start one after the other in list order, so that the last one wins as when files
// are converted one by one.
std::deque<Task>::iterator Run::nextTask() {
    std::set<uint64_t> waiting;  // shared outputs of the pending files looked at so far
    auto chosen = pending_.end();
    for (auto task = pending_.begin(); task != pending_.end(); ++task) {
        // The tail waits until all of it is known, then starts largest first.
        if (task->tail && !tailKnown_)
            break;
        if (task->sharesOutput) {
            const bool blocked =
                runningOutputs_.count(task->outputKey) != 0 || waiting.count(task->outputKey) != 0;
            waiting.insert(task->outputKey);
            if (blocked)
                continue;
        }
        if (!task->tail)
            return task;
        if (chosen == pending_.end() || task->cost > chosen->cost)
            chosen = task;
    }
    return chosen;
}

void Run::work(int slot) {
    // Ctrl-C and SIGTERM go to the coordinating thread, which alone reads from pipes and the
    // terminal: here a signal could only cut a wait short. Threads started from here (the
    // codecs' own) inherit the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    ConversionHooks hooks;
    hooks.shouldStop = [this] { return shouldStop(); };
    hooks.progress = [this, slot](int percent) { percent_[slot].store(percent); };
    for (;;) {
        Task task;
        {
            std::unique_lock lock(mutex_);
            auto next = pending_.end();
            workReady_.wait(
                lock, [&] { return shutdown_ || stop_ || (next = nextTask()) != pending_.end(); });
            if (shutdown_ || stop_)
                return;
            task = take(next);
        }
        convert(std::move(task), slot, hooks);
    }
}

// Called with the mutex held.
Task Run::take(std::deque<Task>::iterator next) {
    Task task = std::move(*next);
    pending_.erase(next);
    ++running_;
    if (task.sharesOutput)
        runningOutputs_.insert(task.outputKey);
    latest_ = task.path;
    return task;
}

void Run::convert(Task task, int slot, const ConversionHooks& hooks) {
    percent_[slot].store(0);
    FileOutcome outcome =
        convertFile(job_, sources_, outputs_, cwd_, task.index, task.path, task.treeBase, hooks);
    for (const auto& step : afterWrite_) {
        if (outcome.result != FileOutcome::Result::Converted)
            break;
        step(outcome);
    }
    if (outcome.result == FileOutcome::Result::Abandoned)
        outcome.detail = interruptSeen_ ? QStringLiteral("interrupted")
                                        : QStringLiteral("the run stopped at a failure");
    percent_[slot].store(0);
    {
        std::lock_guard lock(mutex_);
        --running_;
        ++finished_;
        if (task.sharesOutput)
            runningOutputs_.erase(task.outputKey);
        if (outcome.result == FileOutcome::Result::Failed && !job_.keepGoing) {
            stop_ = true;
            pending_.clear();
        }
        outcomes_.emplace(task.index, std::move(outcome));
    }
    outcomeReady_.notify_one();
    if (stop_ || task.sharesOutput)
        workReady_.notify_all();
}

// On the coordinating thread, without the mutex: the progress and a look at Ctrl-C, at most once
// a tick.
void Run::tick(RunListener& listener) {
    if (Clock::now() < nextTick_)
        return;
    nextTick_ = Clock::now() + kTick;
    RunProgress progress;
    {
        std::lock_guard lock(mutex_);
        progress = snapshot();
    }
    shouldStop();  // takes notice of an interruption while every worker is busy
    listener.progress(progress);
}

// Called with the mutex held.
RunProgress Run::snapshot() const {
    RunProgress progress;
    progress.finished = finished_;
    progress.total = total_;
    progress.latest = latest_;
    for (int slot = 0; slot < workers_; ++slot)
        progress.inProgress += percent_[slot].load() / 100.0;
    return progress;
}

// Called with the mutex held (through `lock`): reads the list ahead as far as the look-ahead
// allows, queueing a task for each file.
void Run::readAhead(SourceList& list, std::unique_lock<std::mutex>& lock, RunSummary& summary) {
    while (mayRead()) {
        lock.unlock();
        QString path;
        QString error;
        const SourceList::Next next = list.next(path, error);
        Task task{read_, path, list.lastTreeBase()};
        if (next == SourceList::Next::Name) {
            const QString absolute = absoluteCleanPath(path, cwd_);
            // Only the tail starts by size: its sizes are all that is looked at.
            task.tail = workers_ > 1 && total_ - read_ < kLookAhead;
            if (task.tail)
                task.cost = pixelCost(absolute);
            if (!sharedOutputs_.empty()) {
                task.outputKey = PathKeys::keyOf(outputPathFor(job_, absolute, task.treeBase));
                task.sharesOutput = sharedOutputs_.contains(task.outputKey);
            }
        }
        lock.lock();
        if (next == SourceList::Next::End) {
            exhausted_ = true;
        } else if (next == SourceList::Next::Error) {
            lock.unlock();
            if (!shouldStop())
                summary.listError = error;
            lock.lock();
            stop_ = true;
        } else {
            pending_.push_back(std::move(task));
            ++read_;
            workReady_.notify_one();
        }
    }
}

// Called with the mutex held (through `lock`): reports the outcomes that are next in list order.
void Run::reportInOrder(RunListener& listener, std::unique_lock<std::mutex>& lock,
                        RunSummary& summary) {
    for (auto it = outcomes_.find(reported_); it != outcomes_.end();
         it = outcomes_.find(reported_)) {
        const FileOutcome outcome = std::move(it->second);
        outcomes_.erase(it);
        ++reported_;
        lock.unlock();
        count(summary, outcome);
        listener.finished(outcome);
        lock.lock();
    }
}

RunSummary Run::drive(SourceList& list, RunListener& listener) {
    RunSummary summary;
    const bool convertHere = workers_ == 1;
    std::vector<std::thread> threads;
    if (!convertHere)
        for (int slot = 0; slot < workers_; ++slot)
            threads.emplace_back(&Run::work, this, slot);
    ConversionHooks hooks;
    hooks.shouldStop = [this] { return shouldStop(); };
    hooks.progress = [&](int percent) {
        percent_[0].store(percent);
        tick(listener);
    };

    std::unique_lock lock(mutex_);
    for (;;) {
        readAhead(list, lock, summary);
        if (!tailKnown_ && (exhausted_ || read_ - reported_ >= kLookAhead)) {
            tailKnown_ = true;
            workReady_.notify_all();
        }
        if (stop_) {
            pending_.clear();
            workReady_.notify_all();
        }
        reportInOrder(listener, lock, summary);
        if (running_ == 0 && pending_.empty() && (exhausted_ || stop_))
            break;
        if (convertHere) {
            if (const auto next = nextTask(); next != pending_.end()) {
                Task task = take(next);
                lock.unlock();
                convert(std::move(task), 0, hooks);
                lock.lock();
                continue;
            }
        }
        outcomeReady_.wait_until(lock, nextTick_,
                                 [&] { return outcomes_.count(reported_) != 0 || mayRead(); });
        lock.unlock();
        tick(listener);
        lock.lock();
    }
    shutdown_ = true;
    lock.unlock();
    workReady_.notify_all();
    for (std::thread& thread : threads)
        thread.join();

    // After a stop: what finished behind the files that never started.
    for (const auto& [index, outcome] : outcomes_) {
        count(summary, outcome);
        listener.finished(outcome);
    }
    listener.progress(snapshot());
    summary.interrupted = interruptSeen_;
    return summary;
}

}  // namespace

ConvertRunner::ConvertRunner(const ConvertJob& job, std::function<bool()> interrupted)
    : job_(job), interrupted_(std::move(interrupted)) {}

RunSummary ConvertRunner::run(SourceList& list, RunListener& listener) {
    RunSummary summary;
    QString error;
    if (!list.start(error)) {
        summary.listError = error;
        return summary;
    }
    // The whole list once: its length, every source (so that no output replaces a file that
    // comes later in the list), by its path as given and with its links resolved, and the outputs
    // that more than one file writes.
    const QString cwd = imaging::currentDirectory();
    PathKeys sources;
    PathKeys outputs;
    int64_t total = 0;
    for (;;) {
        QString path;
        const SourceList::Next next = list.next(path, error);
        if (next == SourceList::Next::End)
            break;
        if (interrupted_()) {
            summary.interrupted = true;
            return summary;
        }
        if (next == SourceList::Next::Error) {
            summary.listError = error;
            return summary;
        }
        const QString absolute = absoluteCleanPath(path, cwd);
        sources.add(absolute);
        outputs.add(outputPathFor(job_, absolute, list.lastTreeBase()));
        const QString resolved = imaging::resolvedPath(absolute);
        if (!resolved.isEmpty() && resolved != absolute)
            sources.add(resolved);
        ++total;
    }
    sources.seal();
    const PathKeys sharedOutputs = outputs.seal();
    if (!sharedOutputs.empty()) {
        summary.clashes = namedClashes(job_, list, sharedOutputs, cwd, error);
        summary.clashingOutputs = sharedOutputs.size();
        if (!summary.clashes.empty() || !error.isEmpty()) {
            summary.listError = summary.clashes.empty() ? error : QString();
            return summary;
        }
    }
    if (beforeConverting_ && !beforeConverting_()) {
        summary.stoppedBeforeStart = true;
        return summary;
    }
    if (!list.start(error)) {
        summary.listError = error;
        return summary;
    }
    const int workers = int(std::clamp<int64_t>(job_.jobs, 1, std::max<int64_t>(total, 1)));
    Run run(job_, interrupted_, afterWrite_, sources, outputs, sharedOutputs, cwd, total, workers);
    return run.drive(list, listener);
}

}  // namespace pixavant::cli
