// Helpers the file-format tests share: a fresh temporary folder, whether a
// peer tool is installed, a picture's pixels in reading order, a run under a
// memory limit and the peak memory of a call, and a guard against reads that
// wait on a named pipe.
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
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
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
    const std::string path = MakeTempFolder("orvanta_");
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
#ifdef ORVANTA_TEST_UNDER_ASAN
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

// Runs `body` in a child process whose address space may grow at most
// `headroomMiB` beyond what this process has mapped, and returns the body's
// text or how the child failed; a claim the limit cannot meet then shows as an
// allocation failure, never as a test eating all memory. AddressSanitizer
// maps terabytes of shadow memory up front, so under it there is no limit.
inline std::string RunWithinMemory(size_t headroomMiB, const std::function<std::string()>& body) {
    int channel[2];
    if (pipe(channel) != 0) return "no pipe to the child";
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        if (!kAddressSanitizer) {
            long pages = 0;
            if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
                if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
                std::fclose(statm);
            }
            const rlim_t limit = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(headroomMiB) << 20);
            const rlimit lim = {limit, limit};
            if (pages <= 0 || setrlimit(RLIMIT_AS, &lim) != 0) _exit(2);
        }
        const std::string text = body();
        _exit(write(channel[1], text.data(), text.size()) == ssize_t(text.size()) ? 0 : 3);
    }
    close(channel[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
        if (n > 0) text.append(buffer, size_t(n));
    close(channel[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "the child failed (wait status " + std::to_string(status) + ") after: " + text;
    return text;
}

// How much more than at its start this process held resident at its peak
// while `body` ran, in MiB. Memory that was claimed and filled shows here
// even where a limit let the claim through; run it in a child
// (RunWithinMemory), since the peak it resets is the whole process's.
inline long PeakResidentGrowthMiB(const std::function<void()>& body) {
    auto kib = [](const char* field) {
        long value = -1;
        if (FILE* status = std::fopen("/proc/self/status", "r")) {
            char line[256];
            while (std::fgets(line, sizeof line, status))
                if (std::strncmp(line, field, std::strlen(field)) == 0) value = std::atol(line + std::strlen(field));
            std::fclose(status);
        }
        return value;
    };
    if (FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", refs);  // the peak starts again from what is resident now
        std::fclose(refs);
    }
    const long before = kib("VmRSS:");
    body();
    return (kib("VmHWM:") - before) / 1024;
}

// Guards a test that hands named pipes to code that must refuse them at once:
// after a few seconds it keeps opening the pipes' write ends, which releases a
// reader stuck waiting for a writer, so the test fails instead of hanging.
class PipeWatchdog {
public:
    explicit PipeWatchdog(std::vector<std::string> pipes)
        : thread_([this, pipes = std::move(pipes)] {
              for (std::chrono::milliseconds wait(5000); stopped_.wait_for(wait) != std::future_status::ready;
                   wait = std::chrono::milliseconds(50))
                  for (const std::string& pipe : pipes)
                      if (const int fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0) {
                          released_ = true;
                          close(fd);
                      }
          }) {}
    ~PipeWatchdog() {
        stop_.set_value();
        thread_.join();
    }
    bool Released() const { return released_; }

private:
    std::promise<void> stop_;
    std::shared_future<void> stopped_ = stop_.get_future().share();
    std::atomic<bool> released_{false};
    std::thread thread_;
};
