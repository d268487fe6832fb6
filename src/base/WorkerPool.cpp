#include "base/WorkerPool.h"

#include <utility>

namespace workers {

WorkerPool::WorkerPool(size_t workers) {
    threads_.reserve(workers);
    for (size_t i = 0; i < workers; ++i) threads_.emplace_back([this, i] { run(i); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    queueCv_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::submit(Task task) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(task));
    }
    queueCv_.notify_one();
}

void WorkerPool::run(size_t worker) {
    for (;;) {
        Task task;
        {
            std::unique_lock lock(mutex_);
            queueCv_.wait(lock, [&] { return quit_ || !queue_.empty(); });
            if (queue_.empty()) return;
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        task(worker);
    }
}

}  // namespace workers
