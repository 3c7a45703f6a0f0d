#include "imaging/JxlRunner.h"

#include <jxl/thread_parallel_runner.h>

namespace pixavant::imaging {

// One run: the caller's task function, and whether it may be cut short.
struct JxlRunner::Call {
    JxlRunner* runner;
    void* opaque;
    JxlParallelRunInit init;
    JxlParallelRunFunction func;
    bool refusable;
};

JxlRunner::JxlRunner(size_t threads) {
    pool_ = JxlThreadParallelRunnerCreate(
        nullptr, threads != 0 ? threads : JxlThreadParallelRunnerDefaultNumWorkerThreads());
}

JxlRunner::~JxlRunner() {
    if (pool_ != nullptr)
        JxlThreadParallelRunnerDestroy(pool_);
}

JxlParallelRetCode JxlRunner::runInit(void* opaque, size_t threads) {
    auto* call = static_cast<Call*>(opaque);
    return call->init(call->opaque, threads);
}

void JxlRunner::runTask(void* opaque, uint32_t value, size_t thread) {
    auto* call = static_cast<Call*>(opaque);
    if (call->refusable && call->runner->refused_.load(std::memory_order_relaxed))
        return;
    call->func(call->opaque, value, thread);
    call->runner->tasksDone_.fetch_add(1, std::memory_order_relaxed);
}

JxlParallelRetCode JxlRunner::run(void* runner, void* opaque, JxlParallelRunInit init,
                                  JxlParallelRunFunction func, uint32_t start, uint32_t end) {
    auto* self = static_cast<JxlRunner*>(runner);
    Call call{self, opaque, init, func, self->intake_.load()};
    if (call.refusable && self->refused_)
        return JXL_PARALLEL_RET_RUNNER_ERROR;
    const JxlParallelRetCode status =
        JxlThreadParallelRunner(self->pool_, &call, runInit, runTask, start, end);
    if (status != 0)
        return status;
    return call.refusable && self->refused_ ? JXL_PARALLEL_RET_RUNNER_ERROR : 0;
}

}  // namespace pixavant::imaging
