#pragma once

#include <jxl/parallel_runner.h>

#include <atomic>
#include <cstddef>

namespace pixavant::imaging {

// libjxl's thread pool, run through a JxlParallelRunner of our own so that an encode can be cut
// short while the encoder takes the pixels in: tasks asked for after refuse() are skipped and
// the run reports a failure, which makes JxlEncoderAddImageFrame() fail at once and cleanly.
//
// Only then: libjxl 0.7 aborts the whole process (JXL_CHECK, an illegal instruction) when some of
// its later parallel runs fail, for instance the colour conversion and the DC smoothing of a lossy
// encode. So refusing is limited to the window markIntake() opens; outside it every task runs.
class JxlRunner {
  public:
    // `threads` 0: as many as libjxl's pool would use by default.
    explicit JxlRunner(size_t threads = 0);
    ~JxlRunner();
    JxlRunner(const JxlRunner&) = delete;
    JxlRunner& operator=(const JxlRunner&) = delete;

    bool valid() const { return pool_ != nullptr; }
    // For JxlEncoderSetParallelRunner() and JxlDecoderSetParallelRunner().
    static JxlParallelRetCode run(void* runner, void* opaque, JxlParallelRunInit init,
                                  JxlParallelRunFunction func, uint32_t start, uint32_t end);
    void* opaque() { return this; }

    // Opens (true) or closes (false) the window in which refuse() takes effect. Called by the
    // thread that runs the encoder, around JxlEncoderAddImageFrame().
    void markIntake(bool open) { intake_ = open; }
    // From any thread: stops the work of the open window, if any.
    void refuse() { refused_ = true; }
    bool refused() const { return refused_; }
    int64_t tasksDone() const { return tasksDone_.load(std::memory_order_relaxed); }

  private:
    struct Call;
    static JxlParallelRetCode runInit(void* call, size_t threads);
    static void runTask(void* call, uint32_t value, size_t thread);

    void* pool_ = nullptr;
    std::atomic<bool> intake_{false};
    std::atomic<bool> refused_{false};
    std::atomic<int64_t> tasksDone_{0};
};

}  // namespace pixavant::imaging
