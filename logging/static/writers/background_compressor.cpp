#include "logging/static/writers/background_compressor.h"

#include <process.h>

#include <atomic>
#include <cstdio>
#include <deque>

#include "core/common/handles.h"
#include "logging/common/address_wait.h"
#include "logging/common/srw_lock.h"

namespace Logging {
namespace BackgroundCompressor {

namespace {

struct Job {
    std::string file;
    std::string temporary;
};

struct CompressionQueue {
    SrwLock lock;
    std::deque<Job> jobs;
    std::string running;  // the file of the job being compressed, empty when none
    Common::UniqueHandle thread;
    bool finished = false;  // the thread has seen the queue empty
    bool stopped = false;
    std::atomic<uint32_t> completed{0};  // counts finished jobs, for WaitFor
};

// Never destroyed: rotations may queue jobs until the process ends.
CompressionQueue& State() {
    static CompressionQueue* const queue = new CompressionQueue;
    return *queue;
}

void Compress(const Job& job) {
    Common::UniqueStdioFile plain(std::fopen(job.file.c_str(), "rb"));
    if (!plain) {
        return;
    }
    {
        Common::UniqueGzFile packed(gzopen(job.temporary.c_str(), "wb"));
        if (packed) {
            char block[4096];
            size_t read;
            while ((read = std::fread(block, 1, sizeof block, plain.get())) > 0) {
                gzwrite(packed.get(), block, static_cast<unsigned>(read));
            }
        }
    }
    plain.reset();
    std::remove(job.file.c_str());
    std::rename(job.temporary.c_str(), job.file.c_str());
}

unsigned __stdcall Run(void*) {
    CompressionQueue& queue = State();
    for (;;) {
        Job job;
        {
            ExclusiveGuard guard(queue.lock);
            if (queue.jobs.empty()) {
                queue.finished = true;
                return 0;
            }
            job = std::move(queue.jobs.front());
            queue.jobs.pop_front();
            queue.running = job.file;
        }
        Compress(job);
        {
            ExclusiveGuard guard(queue.lock);
            queue.running.clear();
        }
        queue.completed.fetch_add(1);
        WakeAllWaiting(queue.completed);
    }
}

bool Pending(const CompressionQueue& queue, const std::string& file) {
    if (queue.running == file) {
        return true;
    }
    for (const Job& job : queue.jobs) {
        if (job.file == file) {
            return true;
        }
    }
    return false;
}

// Stops the queue at the end of the process, whatever the order of the static destructors.
struct StopAtExit {
    ~StopAtExit() { Stop(); }
} g_stopAtExit;

}  // namespace

void Queue(const std::string& file, const std::string& temporary) {
    CompressionQueue& queue = State();
    ExclusiveGuard guard(queue.lock);
    if (queue.stopped) {
        return;
    }
    queue.jobs.push_back(Job{file, temporary});
    if (queue.thread && !queue.finished) {
        return;
    }
    if (queue.thread) {
        // It has seen the queue empty and needs no lock to end.
        ::WaitForSingleObject(queue.thread.get(), INFINITE);
        queue.thread.reset();
    }
    queue.finished = false;
    queue.thread.reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Run, nullptr, 0, nullptr)));
    if (!queue.thread) {
        queue.jobs.pop_back();
    }
}

void WaitFor(const std::string& file) {
    CompressionQueue& queue = State();
    for (;;) {
        uint32_t completed;
        {
            ExclusiveGuard guard(queue.lock);
            if (!Pending(queue, file)) {
                return;
            }
            completed = queue.completed.load();
        }
        WaitWhileEqual(queue.completed, completed, kWaitForever);
    }
}

void Stop() {
    CompressionQueue& queue = State();
    HANDLE thread;
    {
        ExclusiveGuard guard(queue.lock);
        queue.stopped = true;
        thread = queue.thread.get();
    }
    // Only Queue replaces the handle, and it no longer does once the queue is stopped.
    if (thread != nullptr) {
        ::WaitForSingleObject(thread, INFINITE);
    }
}

}  // namespace BackgroundCompressor
}  // namespace Logging
