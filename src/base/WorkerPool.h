#pragma once
// A fixed set of worker threads taking tasks in the order they were handed in: the
// compression and the extraction engine run their members on one. Free of Qt.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace workers {

class WorkerPool {
  public:
    // A task learns the number (0 .. workers - 1) of the worker running it, so that it can
    // use state kept per worker.
    using Task = std::function<void(size_t worker)>;

    explicit WorkerPool(size_t workers);
    // Runs the tasks still queued, then ends the threads.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    void submit(Task task);

    // The lock of the queue. Tasks may publish their results under it, and a thread that
    // waits for them may wait on a condition variable of its own with it.
    std::mutex& mutex() { return mutex_; }

  private:
    void run(size_t worker);

    std::mutex mutex_;
    std::condition_variable queueCv_;
    std::deque<Task> queue_;
    bool quit_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace workers
