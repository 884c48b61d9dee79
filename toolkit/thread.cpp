#include "toolkit/thread.h"

#include <cerrno>
#include <memory>
#include <system_error>
#include <utility>

namespace {

std::function<bool()> gStartFails;

void* RunWork(void* work) noexcept {
    const std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(work));
    (*owned)();
    return nullptr;
}

}  // namespace

Thread::Thread(std::function<void()> work) {
    auto owned = std::make_unique<std::function<void()>>(std::move(work));
    int error = gStartFails && gStartFails() ? EAGAIN : 0;
    pthread_attr_t attributes;
    if (error == 0) error = pthread_attr_init(&attributes);
    if (error == 0) {
        error = pthread_attr_setstacksize(&attributes, kThreadStackBytes);
        if (error == 0) error = pthread_create(&handle_, &attributes, RunWork, owned.get());
        pthread_attr_destroy(&attributes);
    }
    if (error != 0) throw std::system_error(error, std::generic_category(), "pthread_create");
    owned.release();  // the thread's now
    started_ = true;
}

Thread::Thread(Thread&& other) noexcept
    : handle_(other.handle_), started_(std::exchange(other.started_, false)) {}

Thread& Thread::operator=(Thread&& other) noexcept {
    if (this != &other) {
        join();
        handle_ = other.handle_;
        started_ = std::exchange(other.started_, false);
    }
    return *this;
}

Thread::~Thread() { join(); }

void Thread::join() noexcept {
    if (!started_) return;
    pthread_join(handle_, nullptr);
    started_ = false;
}

void Thread::detach() noexcept {
    if (!started_) return;
    pthread_detach(handle_);
    started_ = false;
}

void SetThreadStartFailureForTesting(std::function<bool()> fails) { gStartFails = std::move(fails); }
