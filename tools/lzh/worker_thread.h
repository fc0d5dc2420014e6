// One thread that runs one job and is joined, over std::thread on POSIX
// and _beginthreadex on Windows (the MinGW runtime of the windows build has
// no std::thread). Joining is the only synchronisation: everything the job
// wrote is visible to the thread that joined it.
#pragma once

#include <functional>
#include <memory>

namespace lzh {

class WorkerThread {
public:
    WorkerThread();
    ~WorkerThread();  // joins a running job
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs `job` on a new thread. False when no thread could be made: the
    // caller runs the job itself.
    bool Start(std::function<void()> job);
    // Waits for the job started last; nothing when none runs.
    void Join();

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
    std::function<void()> job_;
};

// Processors this program may run on (at least 1).
int ProcessorCount();

}  // namespace lzh
