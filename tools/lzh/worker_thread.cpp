#include "lzh/worker_thread.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <stdint.h>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#endif

namespace lzh {

#ifdef _WIN32

// Two auto-reset events: `wake` hands the thread a job (or the order to
// end, with `quit`), `done` tells that the job returned. Setting and
// waiting on an event order the memory accesses around them.
struct WorkerThread::Handle {
    HANDLE thread = nullptr;
    HANDLE wake = nullptr;
    HANDLE done = nullptr;
    std::function<void()>* job = nullptr;
    bool quit = false;

    ~Handle() {
        if (wake) CloseHandle(wake);
        if (done) CloseHandle(done);
    }

    // Through the C runtime's own thread start, which sets up what the
    // runtime keeps per thread.
    bool MakeThread(std::function<void()>* slot) {
        if (thread) return true;
        job = slot;
        if (!wake) wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!done) done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!wake || !done) return false;
        thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RunJobs, this, 0, nullptr));
        return thread != nullptr;
    }

    static unsigned __stdcall RunJobs(void* self) {
        auto* h = static_cast<Handle*>(self);
        for (;;) {
            WaitForSingleObject(h->wake, INFINITE);
            if (h->quit) return 0;
            (*h->job)();
            SetEvent(h->done);
        }
    }
};

bool WorkerThread::Start(std::function<void()> job) {
    Join();
    if (!handle_->MakeThread(&job_)) return false;
    job_ = std::move(job);
    running_ = true;
    SetEvent(handle_->wake);
    return true;
}

void WorkerThread::Join() {
    if (!running_) return;
    WaitForSingleObject(handle_->done, INFINITE);
    running_ = false;
}

WorkerThread::~WorkerThread() {
    Join();
    if (!handle_->thread) return;
    handle_->quit = true;
    SetEvent(handle_->wake);
    WaitForSingleObject(handle_->thread, INFINITE);
    CloseHandle(handle_->thread);
}

struct Semaphore::Handle {
    HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr);
    ~Handle() {
        if (semaphore) CloseHandle(semaphore);
    }
};

bool Semaphore::Works() const { return handle_->semaphore != nullptr; }
void Semaphore::Post() { ReleaseSemaphore(handle_->semaphore, 1, nullptr); }
void Semaphore::Wait() { WaitForSingleObject(handle_->semaphore, INFINITE); }

int ProcessorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

#else

// The thread sleeps on `changed` until `waiting` says a job (or the order
// to end, with `quit`) is there, and clears it when the job returned.
struct WorkerThread::Handle {
    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    bool waiting = false;
    bool quit = false;

    void RunJobs(std::function<void()>* job) {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return waiting; });
            if (quit) return;
            lock.unlock();
            (*job)();
            lock.lock();
            waiting = false;
            changed.notify_all();
        }
    }
};

bool WorkerThread::Start(std::function<void()> job) {
    Join();
    if (!handle_->thread.joinable()) {
        try {
            Handle* h = handle_.get();
            std::function<void()>* slot = &job_;
            handle_->thread = std::thread([h, slot] { h->RunJobs(slot); });
        } catch (const std::system_error&) {
            return false;
        }
    }
    std::lock_guard<std::mutex> lock(handle_->mutex);
    job_ = std::move(job);
    running_ = handle_->waiting = true;
    handle_->changed.notify_all();
    return true;
}

void WorkerThread::Join() {
    if (!running_) return;
    std::unique_lock<std::mutex> lock(handle_->mutex);
    handle_->changed.wait(lock, [this] { return !handle_->waiting; });
    running_ = false;
}

WorkerThread::~WorkerThread() {
    Join();
    if (!handle_->thread.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(handle_->mutex);
        handle_->quit = handle_->waiting = true;
        handle_->changed.notify_all();
    }
    handle_->thread.join();
}

struct Semaphore::Handle {
    std::mutex mutex;
    std::condition_variable posted;
    uint64_t count = 0;
};

bool Semaphore::Works() const { return true; }

void Semaphore::Post() {
    std::lock_guard<std::mutex> lock(handle_->mutex);
    ++handle_->count;
    handle_->posted.notify_one();
}

void Semaphore::Wait() {
    std::unique_lock<std::mutex> lock(handle_->mutex);
    handle_->posted.wait(lock, [this] { return handle_->count > 0; });
    --handle_->count;
}

int ProcessorCount() {
    unsigned count = std::thread::hardware_concurrency();
    return count > 0 ? static_cast<int>(count) : 1;
}

#endif

WorkerThread::WorkerThread() : handle_(new Handle) {}
Semaphore::Semaphore() : handle_(new Handle) {}
Semaphore::~Semaphore() = default;

}  // namespace lzh
