// Helpers the file-format tests share: a fresh temporary folder, whether a
// peer tool is installed and a run of one, a picture's pixels in reading
// order, a run in a fresh process (under a memory limit, also checking the
// peak held), and a guard against reads that wait on a named pipe.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
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
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "toolkit/image.h"

namespace test_support_detail {

// Owns the folders MakeTempFolder made for the running test and removes them
// with everything in them when the test ends, passed or failed, so that runs
// again and again do not fill the disk; one made outside a test goes when the
// program ends. A test that crashes leaves its folder.
class TempFolderKeeper : public testing::EmptyTestEventListener {
public:
    static void Keep(const std::string& path) {
        static TempFolderKeeper* const keeper = [] {
            auto* listener = new TempFolderKeeper;  // owned by Google Test
            testing::UnitTest::GetInstance()->listeners().Append(listener);
            return listener;
        }();
        keeper->folders_.push_back(path);
    }

private:
    void OnTestEnd(const testing::TestInfo&) override { RemoveAll(); }
    void OnTestProgramEnd(const testing::UnitTest&) override { RemoveAll(); }
    void RemoveAll() {
        for (const std::string& folder : folders_) {
            std::error_code error;
            std::filesystem::remove_all(folder, error);
            if (error) std::fprintf(stderr, "cannot remove %s: %s\n", folder.c_str(), error.message().c_str());
        }
        folders_.clear();
    }
    std::vector<std::string> folders_;
};

}  // namespace test_support_detail

// A new empty folder below the test temporary folder, ending in "/", removed
// when the test ends.
inline std::string MakeTempFolder(const std::string& prefix) {
    std::string templ = testing::TempDir() + prefix + "XXXXXX";
    if (!mkdtemp(templ.data())) {
        ADD_FAILURE() << "cannot make a temporary folder from " << templ;
        return testing::TempDir();
    }
    test_support_detail::TempFolderKeeper::Keep(templ);
    return templ + "/";
}

// A MakeTempFolder folder that is removed with everything in it already when
// the object goes (never the shared folder it falls back to).
struct TempFolder {
    const std::string path = MakeTempFolder("orvanta_");
    ~TempFolder() {
        if (path != testing::TempDir()) std::filesystem::remove_all(path);
    }
};

inline bool HaveTool(const std::string& name) {
    return system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// The peer tools the tests compare against (ImageMagick, Pillow, NVIDIA
// Texture Tools, libtiff's tools) run in the C locale, where they read their
// arguments as written: in a Turkish one ImageMagick knows neither
// "gradient:" nor "info:". The code under test keeps the caller's locale.
// True when the shell command exits with 0; its standard output is added to
// `output` when one is given, else dropped.
template <class Bytes = std::string>
bool RunPeer(const std::string& command, Bytes* output = nullptr) {
    FILE* pipe = popen(("export LC_ALL=C; " + command).c_str(), "r");
    if (!pipe) return false;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        if (output) output->insert(output->end(), buffer, buffer + n);
    return pclose(pipe) == 0;
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

namespace test_support_detail {

// The child's end of the channel and which call of the test is its own, in
// the environment of a process started by RunInFreshProcess.
constexpr const char* kFreshProcessVariable = "ORVANTA_TEST_FRESH_PROCESS";
// The exit status of a child that ran its body and handed the text over.
constexpr int kBodyDone = 75;

// Numbers the RunInFreshProcess calls of the running test from 1, the same
// in the test and in its child, which runs the same code.
class FreshProcessCalls : public testing::EmptyTestEventListener {
public:
    static int Next() {
        static FreshProcessCalls* const calls = [] {
            auto* listener = new FreshProcessCalls;  // owned by Google Test
            testing::UnitTest::GetInstance()->listeners().Append(listener);
            return listener;
        }();
        return ++calls->count_;
    }

private:
    void OnTestStart(const testing::TestInfo&) override { count_ = 0; }
    int count_ = 0;
};

}  // namespace test_support_detail

// Runs `body` in a fresh process and returns the body's text or how the
// process failed. The process is this test program started again for the
// running test alone, with its own temporary folder: it repeats the test up
// to this call, skipping the bodies of earlier calls, then runs this body and
// ends. So the body sees what the test made before it, and nothing that other
// tests left in this process: a grown heap, threads, globals. With
// `headroomMiB`, the child's address space may grow at most that much beyond
// what it has mapped when the body starts, so a claim the limit cannot meet
// shows as an allocation failure, never as a test eating all memory.
// AddressSanitizer maps terabytes of shadow memory up front, so under it
// there is no limit. A test must reach the call the same way in the child:
// an ASSERT on an earlier call's text (empty there) would stop it short.
inline std::string RunInFreshProcess(const std::function<std::string()>& body, size_t headroomMiB = 0) {
    using namespace test_support_detail;
    const int call = FreshProcessCalls::Next();
    if (const char* mine = getenv(kFreshProcessVariable)) {
        int wanted = 0, channel = -1;
        if (std::sscanf(mine, "%d %d", &wanted, &channel) != 2) _exit(2);
        if (call != wanted) return "";
        if (headroomMiB > 0 && !kAddressSanitizer) {
            long pages = 0;
            std::ifstream("/proc/self/statm") >> pages;
            rlimit lim{};
            if (pages <= 0 || getrlimit(RLIMIT_AS, &lim) != 0) _exit(3);
            lim.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(headroomMiB) << 20);
            if (setrlimit(RLIMIT_AS, &lim) != 0) _exit(3);
        }
        const std::string text = body();
        _exit(write(channel, text.data(), text.size()) == ssize_t(text.size()) ? kBodyDone : 4);
    }

    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    if (!test) return "not inside a test";
    const TempFolder folder;
    // The write end stays open across the exec, the read end does not.
    int channel[2];
    if (pipe2(channel, O_CLOEXEC) != 0) return "no pipe to the child";
    fcntl(channel[1], F_SETFD, 0);
    std::vector<std::string> args = {"/proc/self/exe",
                                     "--gtest_filter=" + std::string(test->test_suite_name()) + "." + test->name(),
                                     "--gtest_also_run_disabled_tests", "--gtest_repeat=1"};
    // Google Test's settings from the environment (an output file, shards)
    // would apply to the child too.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "GTEST_", 6) != 0 && std::strncmp(*e, "TEST_TMPDIR=", 12) != 0 &&
            std::strncmp(*e, "TMPDIR=", 7) != 0)
            env.emplace_back(*e);
    env.push_back(std::string(kFreshProcessVariable) + "=" + std::to_string(call) + " " + std::to_string(channel[1]));
    env.push_back("TEST_TMPDIR=" + folder.path);
    env.push_back("TMPDIR=" + folder.path);
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(a.data());
    for (std::string& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    // Google Test's report of the repeated test is not wanted.
    pid_t child = -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const int error = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(channel[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
        if (n > 0) text.append(buffer, size_t(n));
    close(channel[0]);
    if (error != 0) return "the child could not be started: " + std::string(std::strerror(error));
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != kBodyDone)
        return "the child failed (wait status " + std::to_string(status) + ") after: " + text;
    return text;
}

// RunInFreshProcess with a limit on memory, as its text says.
inline std::string RunWithinMemory(size_t headroomMiB, const std::function<std::string()>& body) {
    return RunInFreshProcess(body, headroomMiB);
}

// RunWithinMemory with 512 MiB to grow, whose text gains ", holding N MiB"
// when the resident peak grew more than 64 MiB while `body` ran (a few MiB
// are normal, some tens under the sanitizers): memory that was claimed and
// filled shows even where the limit let the claim through.
// A count of /proc/self/status in KiB ("VmRSS:"); -1 when it has none.
inline long ProcessStatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return -1L;
}

inline std::string RunHoldingLittleMemory(const std::function<std::string()>& body) {
    return RunWithinMemory(512, [&] {
        std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from what is resident now
        const long before = ProcessStatusKiB("VmRSS:");
        const std::string text = body();
        const long grown = (ProcessStatusKiB("VmHWM:") - before) / 1024;
        return grown > 64 ? text + ", holding " + std::to_string(grown) + " MiB" : text;
    });
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
