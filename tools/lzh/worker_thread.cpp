#include "lzh/worker_thread.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <system_error>
#include <thread>
#endif

namespace lzh {

#ifdef _WIN32

struct WorkerThread::Handle {
    HANDLE thread = nullptr;
};

namespace {
// Through the C runtime's own thread start, which sets up what the runtime
// keeps per thread.
unsigned __stdcall RunJob(void* job) {
    (*static_cast<std::function<void()>*>(job))();
    return 0;
}
}  // namespace

bool WorkerThread::Start(std::function<void()> job) {
    Join();
    job_ = std::move(job);
    handle_->thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RunJob, &job_, 0, nullptr));
    return handle_->thread != nullptr;
}

void WorkerThread::Join() {
    if (handle_->thread == nullptr) return;
    WaitForSingleObject(handle_->thread, INFINITE);
    CloseHandle(handle_->thread);
    handle_->thread = nullptr;
}

int ProcessorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

#else

struct WorkerThread::Handle {
    std::thread thread;
};

bool WorkerThread::Start(std::function<void()> job) {
    Join();
    job_ = std::move(job);
    try {
        handle_->thread = std::thread(job_);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void WorkerThread::Join() {
    if (handle_->thread.joinable()) handle_->thread.join();
}

int ProcessorCount() {
    unsigned count = std::thread::hardware_concurrency();
    return count > 0 ? static_cast<int>(count) : 1;
}

#endif

WorkerThread::WorkerThread() : handle_(new Handle) {}
WorkerThread::~WorkerThread() { Join(); }

}  // namespace lzh
