// Threads of the program's own work: the band pool's workers, the PNG
// reader's inflating thread, the thread that touches a new picture's pages
// ahead, a batch item. std::thread's interface, with a stack of
// kThreadStackBytes instead of the system's default (the stack limit,
// normally 8 MiB). A data limit (ulimit -d) counts every thread's whole
// stack, and the C library keeps the stacks of ended threads for later ones,
// so at the default size a batch had tens of megabytes less room for its
// pictures than one of its items converted alone. None of that work needs
// more: nothing recurses, and no buffer on the stack passes 64 KiB.
#pragma once

#include <pthread.h>

#include <signal.h>

#include <cstddef>
#include <functional>

constexpr size_t kThreadStackBytes = size_t(2) << 20;

class Thread {
public:
    Thread() noexcept = default;
    // Starts `work` on a new thread; throws std::system_error when the system
    // refuses one, as std::thread does (std::bad_alloc when `work` cannot be
    // copied: callers that go on without the thread catch std::exception).
    explicit Thread(std::function<void()> work);
    Thread(Thread&& other) noexcept;
    // Only onto a thread that is not joinable.
    Thread& operator=(Thread&& other) noexcept;
    // Joins a thread still joinable.
    ~Thread();

    bool joinable() const noexcept { return started_; }
    void join() noexcept;
    void detach() noexcept;

private:
    pthread_t handle_{};
    bool started_ = false;
};

// Blocks every signal on the calling thread while it lives: a thread started
// meanwhile inherits the mask, so handlers keep running on the main thread.
class AllSignalsBlocked {
public:
    AllSignalsBlocked() noexcept {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous_);
    }
    ~AllSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    AllSignalsBlocked(const AllSignalsBlocked&) = delete;
    AllSignalsBlocked& operator=(const AllSignalsBlocked&) = delete;

private:
    sigset_t previous_;
};

// Test hook: asked on the starting thread before every start; when it
// answers true the start fails as the system's refusal of a thread does
// (EAGAIN). Set it only while no thread of the program's own is starting.
void SetThreadStartFailureForTesting(std::function<bool()> fails);
