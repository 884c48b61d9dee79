// Helpers the file-format tests share: a fresh temporary folder, whether a
// peer tool is installed, a picture's pixels in reading order, a run under a
// memory limit, and a guard against reads that wait on a named pipe.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "toolkit/image.h"

// A new empty folder below the test temporary folder, ending in "/".
inline std::string MakeTempFolder(const std::string& prefix) {
    std::string templ = testing::TempDir() + prefix + "XXXXXX";
    if (!mkdtemp(templ.data())) {
        ADD_FAILURE() << "cannot make a temporary folder from " << templ;
        return testing::TempDir();
    }
    return templ + "/";
}

// A MakeTempFolder folder that is removed with everything in it when the
// object goes (never the shared folder it falls back to).
struct TempFolder {
    std::string path = MakeTempFolder("orvanta_");
    TempFolder() = default;
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        if (path != testing::TempDir()) std::filesystem::remove_all(path);
    }
};

inline bool HaveTool(const std::string& name) {
    return system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

inline bool HaveImageMagick() {
    static const bool have = HaveTool("convert-im6.q16");
    return have;
}

// Every pixel as 0xAABBGGRR, top row first.
inline std::vector<uint32_t> PixelsOf(const Image& image) {
    std::vector<uint32_t> out;
    out.reserve(size_t(image.width) * size_t(image.height));
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) out.push_back(GetPixelColour(image, x, y));
    return out;
}

#if defined(__SANITIZE_ADDRESS__)
#define ORVANTA_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVANTA_TEST_UNDER_ASAN 1
#endif
#endif
// AddressSanitizer reserves its shadow memory up front, so a child process
// under a memory limit cannot allocate at all; such tests skip.
#ifdef ORVANTA_TEST_UNDER_ASAN
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

// Runs `body` in a child process whose address space may grow at most
// `headroomMiB` beyond what this process has mapped, and returns the text the
// body returned, or a note on how the child failed (a failed limit shows as
// an allocation failure inside the body, never as a test process eating all
// memory). Under AddressSanitizer, which maps terabytes of shadow memory,
// the limit cannot be set and the child runs without it.
inline std::string RunWithinMemory(size_t headroomMiB, const std::function<std::string()>& body) {
    int channel[2];
    if (pipe(channel) != 0) return "no pipe to the child";
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        close(channel[0]);
        close(channel[1]);
        return "no child process";
    }
    if (child == 0) {
        close(channel[0]);
#ifndef ORVANTA_TEST_UNDER_ASAN
        long pages = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
            std::fclose(statm);
        }
        const rlim_t limit = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(headroomMiB) << 20);
        const rlimit lim = {limit, limit};
        if (pages <= 0 || setrlimit(RLIMIT_AS, &lim) != 0) _exit(2);
#else
        (void)headroomMiB;
#endif
        const std::string text = body();
        const ssize_t written = write(channel[1], text.data(), text.size());
        _exit(written == ssize_t(text.size()) ? 0 : 3);
    }
    close(channel[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0) text.append(buffer, size_t(n));
        else if (errno != EINTR) break;
    }
    close(channel[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "the child failed (wait status " + std::to_string(status) + ") after: " + text;
    return text;
}

// Guards a test that hands named pipes to code that must refuse them at
// once: if the test still runs after a few seconds, the pipes' write ends are
// opened and closed again and again, which releases a reader stuck waiting
// for a writer. A released reader then fails the test's expectations, and
// Released() says what happened, instead of the test hanging forever.
class PipeWatchdog {
public:
    explicit PipeWatchdog(std::vector<std::string> pipes) : pipes_(std::move(pipes)), thread_([this] { Watch(); }) {}
    ~PipeWatchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    PipeWatchdog(const PipeWatchdog&) = delete;
    PipeWatchdog& operator=(const PipeWatchdog&) = delete;

    bool Released() const { return released_; }

private:
    void Watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (wake_.wait_for(lock, std::chrono::seconds(5), [this] { return stop_; })) return;
        while (!stop_) {
            for (const std::string& pipe : pipes_) {
                const int fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);  // fails unless a reader waits
                if (fd >= 0) {
                    released_ = true;
                    close(fd);
                }
            }
            wake_.wait_for(lock, std::chrono::milliseconds(50), [this] { return stop_; });
        }
    }

    std::vector<std::string> pipes_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::atomic<bool> released_{false};
    std::thread thread_;
};
