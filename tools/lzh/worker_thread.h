// A thread that runs one job at a time, over std::thread on POSIX and
// _beginthreadex on Windows (the MinGW runtime of the windows build has no
// std::thread). The thread is made by the first Start and kept for the next
// jobs until the object goes, so that many small jobs in a row (the files of
// a tree) do not each make and tear down a thread. Joining is the only
// synchronisation: everything the job wrote is visible to the thread that
// joined it.
#pragma once

#include <functional>
#include <memory>

namespace lzh {

class WorkerThread {
public:
    WorkerThread();
    ~WorkerThread();  // waits for a running job, then ends the thread
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs `job` on the thread, after waiting for the job before. False
    // when no thread could be made: the caller runs the job itself.
    bool Start(std::function<void()> job);
    // Waits for the job started last; nothing when none runs.
    void Join();

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
    std::function<void()> job_;
    bool running_ = false;  // a job was started and not joined yet
};

// Counts events, such as jobs that have ended, for a thread that waits for
// the next of several. Post and the Wait that takes its count order the
// memory accesses around them.
class Semaphore {
public:
    Semaphore();
    ~Semaphore();
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // False when the system could not make one: do not use it then.
    bool Works() const;
    void Post();
    // Waits until the count is above zero, and lowers it by one.
    void Wait();

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
};

// Processors this program may run on (at least 1).
int ProcessorCount();

}  // namespace lzh
