// Saving over what the user already has: permissions, links, long names,
// files the user cannot write, and failures that must leave nothing behind.
// Runs both as root (CI) and as an ordinary user; the cases about another
// user's rights run in a child that drops root's rights when there are any.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "toolkit/files.h"
#include "tests/test_support.h"

namespace {

constexpr uid_t kNobody = 65534;

std::string ReadText(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes)) return "<unreadable>";
    return std::string(bytes.begin(), bytes.end());
}

bool Save(const std::string& path, const std::string& text) { return WriteWholeFile(path, text.data(), text.size()); }

// A file holding `text` with the given permission bits.
void MakeOld(const std::string& path, mode_t mode, const std::string& text = "old") {
    ASSERT_TRUE(Save(path, text));
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

mode_t PermissionsOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const FolderEntry& e : ScanFolder(folder)) names.push_back(e.name);
    return names;
}

struct stat LinkStat(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st;
}

// Runs `body` in a child process, so limits set there stay there; true when
// `body` gave true.
bool RunInChild(const std::function<bool()>& body) {
    const pid_t child = fork();
    if (child == 0) _exit(body() ? 0 : 1);
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs `body` as an ordinary user: directly when the tests are not root, else
// in a child that has given up root's rights.
bool RunUnprivileged(const std::function<bool()>& body) {
    if (geteuid() != 0) return body();
    return RunInChild([&body] { return setgid(kNobody) == 0 && setuid(kNobody) == 0 && body(); });
}

class ToolkitAtomicSave : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeTempFolder("save");
        oldMask_ = umask(022);
    }
    void TearDown() override {
        umask(oldMask_);
        SetWriteFailureAfterBytes(-1);
        chmod(dir_.c_str(), 0700);
    }
    std::string dir_;
    mode_t oldMask_ = 0;
};

// Each case prepares the folder, saves "new" to `save`, and then checks what
// every name holds and how the names stand.
TEST_F(ToolkitAtomicSave, SavingKeepsPermissionsAndLinks) {
    const std::string long255(251, 'n');  // + ".png" = 255 bytes, the longest legal name
    struct Case {
        const char* what;
        std::function<void(const std::string&)> prepare;
        std::string save;
        std::vector<std::string> holdNew;  // names that read "new" afterwards
        std::function<void(const std::string&)> check;
    } cases[] = {
        {"0600 stays private", [](const std::string& d) { MakeOld(d + "a.png", 0600); }, "a.png", {"a.png"},
         [](const std::string& d) { EXPECT_EQ(PermissionsOf(d + "a.png"), 0600u); }},
        {"0751 keeps its execute bits", [](const std::string& d) { MakeOld(d + "a.png", 0751); }, "a.png", {"a.png"},
         [](const std::string& d) { EXPECT_EQ(PermissionsOf(d + "a.png"), 0751u); }},
        {"a new file follows the umask", [](const std::string&) {}, "a.png", {"a.png"},
         [](const std::string& d) { EXPECT_EQ(PermissionsOf(d + "a.png"), 0644u); }},
        {"relative link: the target changes, the link stays",
         [](const std::string& d) { mkdir((d + "real").c_str(), 0755); Save(d + "real/t.png", "old");
                                    symlink("real/t.png", (d + "l.png").c_str()); },
         "l.png", {"real/t.png", "l.png"},
         [](const std::string& d) { EXPECT_TRUE(S_ISLNK(LinkStat(d + "l.png").st_mode)); }},
        {"chain of links",
         [](const std::string& d) { Save(d + "t.png", "old"); symlink((d + "t.png").c_str(), (d + "m.png").c_str());
                                    symlink("m.png", (d + "l.png").c_str()); },
         "l.png", {"t.png", "m.png", "l.png"},
         [](const std::string& d) { EXPECT_TRUE(S_ISLNK(LinkStat(d + "l.png").st_mode));
                                    EXPECT_TRUE(S_ISLNK(LinkStat(d + "m.png").st_mode)); }},
        {"dangling link: its target is created",
         [](const std::string& d) { symlink("later.png", (d + "l.png").c_str()); },
         "l.png", {"later.png", "l.png"},
         [](const std::string& d) { EXPECT_TRUE(S_ISLNK(LinkStat(d + "l.png").st_mode)); }},
        {"hard links all see the new picture",
         [](const std::string& d) { MakeOld(d + "a.png", 0640, "old but longer");
                                    link((d + "a.png").c_str(), (d + "b.png").c_str()); },
         "a.png", {"a.png", "b.png"},
         [](const std::string& d) { EXPECT_EQ(LinkStat(d + "a.png").st_ino, LinkStat(d + "b.png").st_ino);
                                    EXPECT_EQ(LinkStat(d + "a.png").st_nlink, 2u);
                                    EXPECT_EQ(PermissionsOf(d + "a.png"), 0640u); }},
        {"255-byte name, new", [](const std::string&) {}, long255 + ".png", {long255 + ".png"}, nullptr},
        {"255-byte name, replaced", [&](const std::string& d) { Save(d + long255 + ".png", "old"); },
         long255 + ".png", {long255 + ".png"}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string d = MakeTempFolder("case");
        c.prepare(d);
        ASSERT_TRUE(Save(d + c.save, "new"));
        for (const std::string& name : c.holdNew) EXPECT_EQ(ReadText(d + name), "new") << name;
        if (c.check) c.check(d);
        for (const std::string& name : NamesIn(d)) EXPECT_EQ(name.find(".orvanta-"), std::string::npos) << name;
    }
}

// Targets that must not be replaced: refused before anything is created,
// the old thing as it was, and (for a FIFO) without waiting for a reader.
TEST_F(ToolkitAtomicSave, RefusesWhatItMustNotReplace) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> prepare;
        std::string save;
    } cases[] = {
        {"read-only file (also for root)", [](const std::string& d) { MakeOld(d + "x.png", 0444); }, "x.png"},
        {"read-only file behind a link",
         [](const std::string& d) { MakeOld(d + "x.png", 0400); symlink("x.png", (d + "l.png").c_str()); }, "l.png"},
        {"named pipe", [](const std::string& d) { mkfifo((d + "x.png").c_str(), 0666); }, "x.png"},
        {"folder", [](const std::string& d) { mkdir((d + "x.png").c_str(), 0755); }, "x.png"},
        {"link loop", [](const std::string& d) { symlink("y.png", (d + "x.png").c_str());
                                                 symlink("x.png", (d + "y.png").c_str()); }, "x.png"},
        {"missing folder", [](const std::string&) {}, "no/such/x.png"},
        {"name ending in a slash", [](const std::string&) {}, "x.png/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string d = MakeTempFolder("case");
        c.prepare(d);
        const std::vector<std::string> before = NamesIn(d);
        struct stat was = LinkStat(d + "x.png");
        EXPECT_FALSE(Save(d + c.save, "new"));
        EXPECT_EQ(NamesIn(d), before);
        const struct stat now = LinkStat(d + "x.png");
        EXPECT_EQ(now.st_ino, was.st_ino);
        EXPECT_EQ(now.st_mode, was.st_mode);
        if (S_ISREG(now.st_mode)) {
            EXPECT_EQ(ReadText(d + "x.png"), "old");
        }
    }
}

// A failed save leaves the old file and every other name as they were: no
// temporary behind, and files that look like a temporary's name untouched.
TEST_F(ToolkitAtomicSave, FailuresLeaveEverythingAsItWas) {
    // The temporary-name templates this program used before, and its own.
    const std::vector<std::string> lookalikes = {".a.png.XXXXXX", ".c.png.XXXXXX", ".orvanta-XXXXXX",
                                                 ".orvanta-abcdef"};
    for (const std::string& name : lookalikes) ASSERT_TRUE(Save(dir_ + name, "mine"));
    ASSERT_TRUE(Save(dir_ + "a.png", "old"));
    ASSERT_EQ(link((dir_ + "a.png").c_str(), (dir_ + "b.png").c_str()), 0);
    ASSERT_TRUE(Save(dir_ + "c.png", "old"));
    const std::vector<std::string> before = NamesIn(dir_);

    // A disk that fills up, on the plain path and on the in-place path of a
    // file with two names.
    for (const char* name : {"c.png", "a.png"}) {
        SCOPED_TRACE(name);
        for (int64_t after : {0, 2}) {
            SetWriteFailureAfterBytes(after);
            AtomicFile file(dir_ + name);
            EXPECT_TRUE(file.Ok());
            EXPECT_EQ(file.Write("ne", 2), after == 2);
            EXPECT_FALSE(file.Write("w picture", 9));
            EXPECT_FALSE(file.Commit());
            SetWriteFailureAfterBytes(-1);
        }
        // Dropped without Commit(): nothing happens either.
        {
            AtomicFile file(dir_ + name);
            EXPECT_TRUE(file.Write("new", 3));
        }
        EXPECT_EQ(ReadText(dir_ + name), "old");
        EXPECT_EQ(NamesIn(dir_), before);
    }
    EXPECT_EQ(ReadText(dir_ + "b.png"), "old");

    // No file can be opened any more: the temporary cannot be made.
    const std::string d = dir_;
    EXPECT_TRUE(RunInChild([d] {
        const int lowestFree = dup(0);
        close(lowestFree);
        const rlimit limit{rlim_t(lowestFree), rlim_t(lowestFree)};
        return setrlimit(RLIMIT_NOFILE, &limit) == 0 && !Save(d + "c.png", "new") && !Save(d + "a.png", "new");
    }));
    EXPECT_EQ(ReadText(dir_ + "c.png"), "old");
    EXPECT_EQ(NamesIn(dir_), before);
    for (const std::string& name : lookalikes) EXPECT_EQ(ReadText(dir_ + name), "mine");

    // A folder the user cannot write: the temporary cannot be made.
    MakeOld(dir_ + "c.png", 0666);
    ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
    EXPECT_TRUE(RunUnprivileged([d] { return !Save(d + "c.png", "new") && !Save(d + "new.png", "new"); }));
    ASSERT_EQ(chmod(dir_.c_str(), 0700), 0);
    EXPECT_EQ(ReadText(dir_ + "c.png"), "old");
    EXPECT_EQ(NamesIn(dir_), before);
    for (const std::string& name : lookalikes) EXPECT_EQ(ReadText(dir_ + name), "mine");

    // A successful save does not touch them either.
    ASSERT_TRUE(Save(dir_ + "a.png", "new"));
    EXPECT_EQ(NamesIn(dir_), before);
    for (const std::string& name : lookalikes) EXPECT_EQ(ReadText(dir_ + name), "mine");
}

// Another user's file in a folder everyone may write: the folder would allow
// a rename over it, but the file is not the user's to change. Where the
// system allows it, a saved file keeps its owner and group.
TEST_F(ToolkitAtomicSave, OwnersAreKeptAndOtherUsersFilesRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make a file of another user";
    MakeOld(dir_ + "theirs.png", 0644);
    MakeOld(dir_ + "shared.png", 0666);
    ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
    const std::string d = dir_;
    EXPECT_TRUE(RunUnprivileged([d] { return !Save(d + "theirs.png", "new"); }));
    EXPECT_EQ(ReadText(dir_ + "theirs.png"), "old");
    EXPECT_EQ(LinkStat(dir_ + "theirs.png").st_uid, 0u);
    // A file the other user may write is saved; as root keeps the owner.
    EXPECT_TRUE(RunUnprivileged([d] { return Save(d + "shared.png", "new"); }));
    EXPECT_EQ(ReadText(dir_ + "shared.png"), "new");
    EXPECT_EQ(NamesIn(dir_), (std::vector<std::string>{"shared.png", "theirs.png"}));
    // Root saving over nobody's file keeps nobody as the owner.
    ASSERT_EQ(chown((dir_ + "shared.png").c_str(), kNobody, kNobody), 0);
    ASSERT_TRUE(Save(dir_ + "shared.png", "root's"));
    EXPECT_EQ(LinkStat(dir_ + "shared.png").st_uid, kNobody);
    EXPECT_EQ(LinkStat(dir_ + "shared.png").st_gid, kNobody);
    // A folder that hands its own group to new files: the file keeps its group.
    ASSERT_EQ(chown(dir_.c_str(), 0, kNobody), 0);
    ASSERT_EQ(chmod(dir_.c_str(), 02777), 0);
    MakeOld(dir_ + "grouped.png", 0644);
    ASSERT_EQ(chown((dir_ + "grouped.png").c_str(), 0, 0), 0);
    ASSERT_TRUE(Save(dir_ + "grouped.png", "new"));
    EXPECT_EQ(LinkStat(dir_ + "grouped.png").st_gid, 0u);
}

// A held commit: the old file stays until Finish(), which puts the new one
// in place or, when that fails, leaves the target as it was; a held file
// that is never finished goes without a trace.
TEST_F(ToolkitAtomicSave, DeferredCommitsWaitForFinish) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> meanwhile;  // between Commit() and Finish()
        bool finish;
        bool finished;    // what Finish() says
        std::string now;  // what x.png reads at the end ("" when it is a folder or missing)
    } cases[] = {
        {"finished", nullptr, true, true, "new"},
        {"dropped", nullptr, false, false, "old"},
        {"target became a folder",
         [](const std::string& d) {
             RemoveFile(d + "x.png");
             mkdir((d + "x.png").c_str(), 0755);
         },
         true, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string d = MakeTempFolder("case");
        ASSERT_TRUE(Save(d + "x.png", "old"));
        {
            DeferredCommits held;
            {
                AtomicFile file(d + "x.png");
                ASSERT_TRUE(file.Write("new", 3));
                ASSERT_TRUE(file.Commit());
                EXPECT_FALSE(file.Commit());  // handed over once
            }
            EXPECT_EQ(ReadText(d + "x.png"), "old");
            EXPECT_EQ(NamesIn(d).size(), 2u);  // the temporary waits
            if (c.meanwhile) c.meanwhile(d);
            if (c.finish) {
                EXPECT_EQ(held.Finish(), c.finished);
                EXPECT_TRUE(held.Finish());  // nothing left to do
            }
        }
        EXPECT_EQ(NamesIn(d), std::vector<std::string>{"x.png"});
        EXPECT_EQ(GetFileKind(d + "x.png") == FileKind::File ? ReadText(d + "x.png") : "", c.now);
    }

    // Scopes nest; outside them a commit is immediate again.
    {
        DeferredCommits outer;
        {
            DeferredCommits inner;
            ASSERT_TRUE(Save(dir_ + "a.png", "inner"));
            EXPECT_EQ(GetFileKind(dir_ + "a.png"), FileKind::Missing);
        }
        ASSERT_TRUE(Save(dir_ + "b.png", "outer"));
        EXPECT_EQ(GetFileKind(dir_ + "b.png"), FileKind::Missing);
        EXPECT_TRUE(outer.Finish());
    }
    EXPECT_EQ(GetFileKind(dir_ + "a.png"), FileKind::Missing);
    EXPECT_EQ(ReadText(dir_ + "b.png"), "outer");
    ASSERT_TRUE(Save(dir_ + "c.png", "now"));
    EXPECT_EQ(ReadText(dir_ + "c.png"), "now");

    // A full disk is still the writer's failure, not the flush's.
    DeferredCommits held;
    SetWriteFailureAfterBytes(0);
    EXPECT_FALSE(Save(dir_ + "c.png", "new"));
    SetWriteFailureAfterBytes(-1);
    EXPECT_TRUE(held.Finish());
    EXPECT_EQ(ReadText(dir_ + "c.png"), "now");
}

// The disk-full injection counts the writes of every thread together:
// with room for one of two writes exactly one of them fails.
TEST_F(ToolkitAtomicSave, WriteFailureInjectionIsSharedByThreads) {
    for (int round = 0; round < 20; ++round) {
        SetWriteFailureAfterBytes(100);
        std::atomic<int> failed{0};
        std::vector<std::thread> writers;
        for (int t = 0; t < 2; ++t)
            writers.emplace_back([&, t] {
                AtomicFile file(dir_ + "t" + std::to_string(t) + ".bin");
                const std::vector<uint8_t> bytes(60, uint8_t(t));
                if (!file.Write(bytes)) ++failed;
            });
        for (std::thread& w : writers) w.join();
        SetWriteFailureAfterBytes(-1);
        ASSERT_EQ(failed.load(), 1) << "round " << round;
    }
}

TEST_F(ToolkitAtomicSave, IdentitiesMeetWhereTwoPathsMayBeOneFile) {
    ASSERT_TRUE(CreateFolder(dir_ + "real"));
    ASSERT_TRUE(Save(dir_ + "real/a.png", "a"));
    ASSERT_TRUE(Save(dir_ + "real/b.png", "b"));
    ASSERT_EQ(symlink((dir_ + "real").c_str(), (dir_ + "via").c_str()), 0);
    ASSERT_EQ(symlink("a.png", (dir_ + "real/l.png").c_str()), 0);
    ASSERT_EQ(symlink("later.png", (dir_ + "real/dangling.png").c_str()), 0);
    ASSERT_EQ(link((dir_ + "real/b.png").c_str(), (dir_ + "hard.png").c_str()), 0);
    const std::string cwd = std::filesystem::current_path().string();
    struct Case {
        const char *a, *b;
        bool same;
    } cases[] = {
        {"real/a.png", "real/a.png", true},
        {"real/a.png", "real/A.PNG", true},
        {"real/a.png", "via/a.png", true},
        {"real/a.png", "real/l.png", true},
        {"real/a.png", "real/./../real/a.png", true},
        {"real/later.png", "via/dangling.png", true},
        {"real/new.png", "via/new.png", true},
        {"hard.png", "real/b.png", true},
        {"real/b.png::t/x.tex", "via/b.png", true},
        {"real/a.png", "real/b.png", false},
        {"real/a.png", "real/a.tga", false},
        {"real/new.png", "new.png", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MayBeSameFile(GetFileIdentity(dir_ + c.a), GetFileIdentity(dir_ + c.b)), c.same)
            << c.a << " and " << c.b;
    ASSERT_EQ(chdir((dir_ + "real").c_str()), 0);
    EXPECT_TRUE(MayBeSameFile(GetFileIdentity("a.png"), GetFileIdentity(dir_ + "via/a.png")));
    ASSERT_EQ(chdir(cwd.c_str()), 0);
}

}  // namespace
