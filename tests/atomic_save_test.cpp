// Saving over what the user already has: permissions, links, long names,
// things that must not be replaced, and failures that must leave nothing
// behind. Runs as root (CI) and as an ordinary user; the cases about another
// user's rights run on a thread that gives root's rights up.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"
#include "toolkit/files.h"

namespace {

constexpr uid_t kNobody = 65534;
using Prepare = std::function<void(const std::string& folder)>;

std::string ReadText(const std::string& path) {
    std::vector<uint8_t> bytes;
    return ReadWholeFile(path, bytes) ? std::string(bytes.begin(), bytes.end()) : "<unreadable>";
}

bool Save(const std::string& path, const std::string& text) { return WriteWholeFile(path, text.data(), text.size()); }

void MakeOld(const std::string& path, mode_t mode, const std::string& text = "old") {
    ASSERT_TRUE(Save(path, text));
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

struct stat StatOf(const std::string& path, bool followLinks = false) {
    struct stat st {};
    followLinks ? stat(path.c_str(), &st) : lstat(path.c_str(), &st);
    return st;
}

std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const FolderEntry& e : ScanFolder(folder)) names.push_back(e.name);
    return names;
}

// Runs `body` as an ordinary user: directly when the tests are not root, else
// on a thread of its own that has given root's rights up. True when `body`
// gave true. The kernel keeps credentials per thread, and the raw system calls
// change this thread's only (the C library's would change every thread's), so
// nothing is forked from a process that other tests left threads in.
bool RunUnprivileged(const std::function<bool()>& body) {
    if (geteuid() != 0) return body();
    bool result = false;
    std::thread([&] {
        result = syscall(SYS_setresgid, kNobody, kNobody, kNobody) == 0 &&
                 syscall(SYS_setresuid, kNobody, kNobody, kNobody) == 0 && body();
    }).join();
    return result;
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
        SetSaveCallFailure(SaveCall::Write, 0, 0);
        SetNoReplaceWayForTesting(NoReplaceWay::Rename);
        chmod(dir_.c_str(), 0700);
    }
    std::string dir_;
    mode_t oldMask_ = 0;
};

// Each case prepares a folder and saves "new" to `save`. A save that must
// succeed leaves "new" under the names in `holdNew`, the permission bits
// `mode` on `save` and the names in `links` still links; a refused one is
// refused before anything is created, x.png as it was (a FIFO without
// waiting for a reader). Neither leaves a temporary behind.
TEST_F(ToolkitAtomicSave, SavingKeepsPermissionsAndLinksAndRefusesWhatItMustNotReplace) {
    const std::string long255 = std::string(251, 'n') + ".png";  // the longest legal name
    struct Case {
        const char* what;
        Prepare prepare;
        std::string save;
        bool saved;
        std::vector<std::string> holdNew = {}, links = {};
        mode_t mode = 0;
    } cases[] = {
        {"0600 stays private", [](auto& d) { MakeOld(d + "a.png", 0600); }, "a.png", true, {"a.png"}, {}, 0600},
        {"0751 keeps its execute bits", [](auto& d) { MakeOld(d + "a.png", 0751); }, "a.png", true, {"a.png"}, {},
         0751},
        {"relative link: the target changes, the link stays",
         [](auto& d) { mkdir((d + "real").c_str(), 0755); Save(d + "real/t.png", "old");
                       symlink("real/t.png", (d + "l.png").c_str()); },
         "l.png", true, {"real/t.png", "l.png"}, {"l.png"}, 0644},
        {"chain of links",
         [](auto& d) { Save(d + "t.png", "old"); symlink((d + "t.png").c_str(), (d + "m.png").c_str());
                       symlink("m.png", (d + "l.png").c_str()); },
         "l.png", true, {"t.png", "m.png", "l.png"}, {"l.png", "m.png"}, 0644},
        {"dangling link: its target is created", [](auto& d) { symlink("later.png", (d + "l.png").c_str()); },
         "l.png", true, {"later.png", "l.png"}, {"l.png"}, 0644},
        {"hard links all see the new picture",
         [](auto& d) { MakeOld(d + "a.png", 0640, "old but longer");
                       link((d + "a.png").c_str(), (d + "b.png").c_str()); },
         "a.png", true, {"a.png", "b.png"}, {}, 0640},
        {"255-byte name, new: the umask holds", [](auto&) {}, long255, true, {long255}, {}, 0644},
        {"255-byte name, replaced", [&](auto& d) { Save(d + long255, "old"); }, long255, true, {long255}, {}, 0644},
        {"read-only file (also for root)", [](auto& d) { MakeOld(d + "x.png", 0444); }, "x.png", false},
        {"read-only file behind a link",
         [](auto& d) { MakeOld(d + "x.png", 0400); symlink("x.png", (d + "l.png").c_str()); }, "l.png", false},
        {"named pipe", [](auto& d) { mkfifo((d + "x.png").c_str(), 0666); }, "x.png", false},
        {"folder", [](auto& d) { mkdir((d + "x.png").c_str(), 0755); }, "x.png", false},
        {"link loop", [](auto& d) { symlink("y.png", (d + "x.png").c_str()); symlink("x.png", (d + "y.png").c_str()); },
         "x.png", false},
        {"missing folder", [](auto&) {}, "no/such/x.png", false},
        {"name ending in a slash", [](auto&) {}, "x.png/", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string d = MakeTempFolder("case");
        c.prepare(d);
        const std::vector<std::string> before = NamesIn(d);
        const struct stat was = StatOf(d + "x.png");
        EXPECT_EQ(Save(d + c.save, "new"), c.saved);
        for (const std::string& name : c.holdNew) EXPECT_EQ(ReadText(d + name), "new") << name;
        for (const std::string& name : c.links) EXPECT_TRUE(S_ISLNK(StatOf(d + name).st_mode)) << name;
        EXPECT_EQ(c.mode ? StatOf(d + c.save, true).st_mode & 07777 : 0, c.mode);
        if (!c.saved) {
            const struct stat now = StatOf(d + "x.png");
            EXPECT_EQ(NamesIn(d), before);
            EXPECT_EQ(now.st_ino, was.st_ino);
            EXPECT_EQ(now.st_mode, was.st_mode);
            EXPECT_TRUE(!S_ISREG(now.st_mode) || ReadText(d + "x.png") == "old");
        }
        for (const std::string& name : NamesIn(d)) EXPECT_EQ(name.find(".orvanta-"), std::string::npos) << name;
    }
}

// A failed save leaves the old file and every other name as they were: no
// temporary behind, and files named like a temporary untouched.
TEST_F(ToolkitAtomicSave, FailuresLeaveEverythingAsItWas) {
    // The temporary-name templates this program used before, and its own.
    const std::vector<std::string> lookalikes = {".a.png.XXXXXX", ".c.png.XXXXXX", ".orvanta-XXXXXX",
                                                 ".orvanta-abcdef"};
    for (const std::string& name : lookalikes) ASSERT_TRUE(Save(dir_ + name, "mine"));
    ASSERT_TRUE(Save(dir_ + "a.png", "old"));
    ASSERT_EQ(link((dir_ + "a.png").c_str(), (dir_ + "b.png").c_str()), 0);
    ASSERT_TRUE(Save(dir_ + "c.png", "old"));
    const std::vector<std::string> before = NamesIn(dir_);
    const auto expectUnchanged = [&] {
        for (const char* name : {"a.png", "b.png", "c.png"}) EXPECT_EQ(ReadText(dir_ + name), "old") << name;
        for (const std::string& name : lookalikes) EXPECT_EQ(ReadText(dir_ + name), "mine") << name;
        EXPECT_EQ(NamesIn(dir_), before);
    };

    // A disk that fills up, on the plain path and on the in-place path of a
    // file with two names; and a file dropped without Commit().
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
        AtomicFile dropped(dir_ + name);
        EXPECT_TRUE(dropped.Write("new", 3));
    }
    expectUnchanged();

    // A folder the user cannot write: the temporary cannot be made.
    MakeOld(dir_ + "c.png", 0666);
    ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
    const std::string d = dir_;
    EXPECT_TRUE(RunUnprivileged([d] { return !Save(d + "c.png", "new") && !Save(d + "new.png", "new"); }));
    ASSERT_EQ(chmod(dir_.c_str(), 0700), 0);
    expectUnchanged();

    // A successful save does not touch the lookalikes either.
    ASSERT_TRUE(Save(dir_ + "c.png", "new"));
    ASSERT_TRUE(Save(dir_ + "c.png", "old"));
    expectUnchanged();
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
    EXPECT_TRUE(RunUnprivileged([d] { return !Save(d + "theirs.png", "new") && Save(d + "shared.png", "new"); }));
    EXPECT_EQ(ReadText(dir_ + "theirs.png"), "old");
    EXPECT_EQ(ReadText(dir_ + "shared.png"), "new");
    EXPECT_EQ(NamesIn(dir_), (std::vector<std::string>{"shared.png", "theirs.png"}));
    // Root saving over nobody's file keeps nobody as the owner, and a folder
    // that hands its group to new files does not take the file's group.
    ASSERT_EQ(chown((dir_ + "shared.png").c_str(), kNobody, 0), 0);
    ASSERT_EQ(chown(dir_.c_str(), 0, kNobody), 0);
    ASSERT_EQ(chmod(dir_.c_str(), 02777), 0);
    ASSERT_TRUE(Save(dir_ + "shared.png", "root's"));
    EXPECT_EQ(StatOf(dir_ + "shared.png").st_uid, kNobody);
    EXPECT_EQ(StatOf(dir_ + "shared.png").st_gid, 0u);
}

// Each write call of a save fails in turn, once, as a disk full or failing
// for a moment does; the calls after it work. The save fails, the old file
// keeps its bytes and no temporary stays, until the failing call lies past
// the save, which is then whole. Small pieces are gathered before they are
// written; the large save passes the early write-back. Committed at once
// (way 0), held to Finish() (1), or held and flushed early (2).
TEST_F(ToolkitAtomicSave, EveryFailedWriteCallFailsTheSave) {
    const std::string oldText(1000, 'o');
    for (const auto& [pieces, piece] : {std::pair<size_t, size_t>{70, 3000}, {9, (size_t(1) << 20) + 3}}) {
        std::string bytes(128 + pieces * piece, 0);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char((i * 2654435761u) >> 13);
        for (int run = 0; run < 6; ++run) {
            const int way = run % 3, error = run < 3 ? ENOSPC : EIO;
            ASSERT_TRUE(Save(dir_ + "x.png", oldText));
            int call = 1;
            for (bool saved = false; !saved && call < 1000; ++call) {
                SCOPED_TRACE(testing::Message() << piece << " way " << way << " errno " << error << " call " << call);
                SetSaveCallFailure(SaveCall::Write, call, error);
                {
                    DeferredCommits held;
                    if (way == 0) held.Detach();
                    AtomicFile file(dir_ + "x.png");
                    saved = file.Write(bytes.data(), 128);
                    for (size_t at = 128; saved && at < bytes.size(); at += piece)
                        saved = file.Write(bytes.data() + at, piece);
                    saved = saved && file.Commit();
                    if (way == 2) held.Flush();
                    saved = held.Finish() && saved;
                }
                SetSaveCallFailure(SaveCall::Write, 0, 0);
                EXPECT_TRUE(ReadText(dir_ + "x.png") == (saved ? bytes : oldText)) << "saved: " << saved;
                EXPECT_EQ(NamesIn(dir_), std::vector<std::string>{"x.png"});
            }
            EXPECT_GT(call, 3);  // calls failed before one lay past the save
        }
    }
}

// The request to start writing back fails: only an error that says bytes
// were lost fails the save; one that says the hint could not be given leaves
// the decision to the final flush. A temporary copied into a hard-linked
// target whose removal fails once is removed all the same, and the save
// stands.
TEST_F(ToolkitAtomicSave, FailedWriteBackHintsAndRemovals) {
    std::string bytes((size_t(9) << 20) + 5, 0);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char((i * 2654435761u) >> 13);
    const struct {
        SaveCall kind;
        int error;
        bool saved;
    } cases[] = {{SaveCall::WriteBack, ENOMEM, true},  {SaveCall::WriteBack, EINVAL, true},
                 {SaveCall::WriteBack, EIO, false},    {SaveCall::WriteBack, ENOSPC, false},
                 {SaveCall::RemoveTemporary, EBUSY, true}, {SaveCall::RemoveTemporary, EIO, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << int(c.kind) << " errno " << c.error);
        const std::string d = MakeTempFolder("hint");
        MakeOld(d + "x.png", 0644);
        ASSERT_EQ(link((d + "x.png").c_str(), (d + "y.png").c_str()), 0);
        SetSaveCallFailure(c.kind, 1, c.error);
        EXPECT_EQ(Save(d + "x.png", bytes), c.saved);
        SetSaveCallFailure(SaveCall::Write, 0, 0);
        for (const char* name : {"x.png", "y.png"}) EXPECT_TRUE(ReadText(d + name) == (c.saved ? bytes : "old")) << name;
        EXPECT_EQ(NamesIn(d), (std::vector<std::string>{"x.png", "y.png"}));
    }
}

// A held commit: the old file stays until Finish(), which puts the new one in
// place or, when that fails, leaves the target as it was; a held file never
// finished goes without a trace. Scopes nest; a full disk is still the
// writer's failure, not the flush's; outside every scope a commit is at once.
TEST_F(ToolkitAtomicSave, DeferredCommitsWaitForFinish) {
    for (const char* name : {"x.png", "y.png", "z.png"}) ASSERT_TRUE(Save(dir_ + name, "old"));
    {
        DeferredCommits dropped;
        ASSERT_TRUE(Save(dir_ + "y.png", "new"));
    }
    {
        DeferredCommits held;
        {
            AtomicFile file(dir_ + "x.png");
            ASSERT_TRUE(file.Write("new", 3) && file.Commit());
            EXPECT_FALSE(file.Commit());  // handed over once
        }
        {
            DeferredCommits inner;
            ASSERT_TRUE(Save(dir_ + "inner.png", "new"));
        }
        ASSERT_TRUE(Save(dir_ + "z.png", "new"));
        SetWriteFailureAfterBytes(0);
        EXPECT_FALSE(Save(dir_ + "full.png", "new"));
        SetWriteFailureAfterBytes(-1);
        EXPECT_EQ(ReadText(dir_ + "x.png"), "old");
        EXPECT_EQ(NamesIn(dir_).size(), 5u);  // two temporaries wait
        ASSERT_TRUE(RemoveFile(dir_ + "z.png") && mkdir((dir_ + "z.png").c_str(), 0755) == 0);
        EXPECT_FALSE(held.Finish());
        EXPECT_TRUE(held.Finish());  // nothing left to do
    }
    EXPECT_EQ(NamesIn(dir_), (std::vector<std::string>{"x.png", "y.png", "z.png"}));
    EXPECT_EQ(ReadText(dir_ + "x.png"), "new");
    EXPECT_EQ(ReadText(dir_ + "y.png"), "old");
    ASSERT_TRUE(Save(dir_ + "y.png", "now"));
    EXPECT_EQ(ReadText(dir_ + "y.png"), "now");
}

// Finishing without replacing, by each way a file system may allow: a file
// goes in place at a free name; a name taken when the temporary was made is
// kept, also by a file with two names (not copied into); a failure is told
// from a taken name and leaves no placeholder; a temporary linked into place
// whose removal fails once goes all the same. (A name taken meanwhile is the
// batch tests' case.)
TEST_F(ToolkitAtomicSave, FinishingWithoutReplacingKeepsWhatIsThere) {
    const Prepare none = [](auto&) {};
    const struct {
        Prepare before, meanwhile;  // before the save; between it and Finish
        CommitResult result;
        std::vector<std::string> names;
        const char* text;  // of x.png afterwards
    } cases[] = {
        {none, none, CommitResult::InPlace, {"x.png"}, "new"},
        {[](auto& d) { Save(d + "x.png", "old"); link((d + "x.png").c_str(), (d + "y.png").c_str()); }, none,
         CommitResult::AlreadyThere, {"x.png", "y.png"}, "old"},
        {none, [](auto& d) { for (const std::string& n : NamesIn(d)) RemoveFile(d + n); }, CommitResult::Failed, {},
         "<unreadable>"},
        // A hard-linked temporary whose removal fails once still goes.
        {none, [](auto&) { SetSaveCallFailure(SaveCall::RemoveTemporary, 1, EBUSY); }, CommitResult::InPlace,
         {"x.png"}, "new"},
    };
    for (NoReplaceWay way : {NoReplaceWay::Rename, NoReplaceWay::Link, NoReplaceWay::Placeholder}) {
        SetNoReplaceWayForTesting(way);
        for (const auto& c : cases) {
            SCOPED_TRACE("way " + std::to_string(int(way)) + ", " + std::to_string(int(c.result)));
            const std::string d = MakeTempFolder("keep");
            c.before(d);
            DeferredCommits held;
            ASSERT_TRUE(Save(d + "x.png", "new"));
            held.Detach();
            c.meanwhile(d);
            EXPECT_EQ(held.Finish(ExistingFile::Keep), c.result);
            SetSaveCallFailure(SaveCall::Write, 0, 0);
            EXPECT_EQ(NamesIn(d), c.names);
            EXPECT_EQ(ReadText(d + "x.png"), c.text);
        }
    }
}

TEST_F(ToolkitAtomicSave, IdentitiesMeetWhereTwoPathsMayBeOneFile) {
    ASSERT_TRUE(CreateFolder(dir_ + "real"));
    ASSERT_TRUE(Save(dir_ + "real/a.png", "a") && Save(dir_ + "real/b.png", "b"));
    ASSERT_EQ(symlink((dir_ + "real").c_str(), (dir_ + "via").c_str()), 0);
    ASSERT_EQ(symlink("a.png", (dir_ + "real/l.png").c_str()), 0);
    ASSERT_EQ(symlink("later.png", (dir_ + "real/dangling.png").c_str()), 0);
    ASSERT_EQ(link((dir_ + "real/b.png").c_str(), (dir_ + "hard.png").c_str()), 0);
    const struct {
        const char *a, *b;
        bool same;
    } cases[] = {
        {"real/a.png", "real/A.PNG", true},       {"real/a.png", "via/a.png", true},
        {"real/a.png", "real/l.png", true},       {"real/a.png", "real/./../real/a.png", true},
        {"real/later.png", "via/dangling.png", true}, {"real/new.png", "via/new.png", true},
        {"hard.png", "real/b.png", true},         {"real/b.png::t/x.tex", "via/b.png", true},
        {"real/a.png", "real/b.png", false},      {"real/a.png", "real/a.tga", false},
        {"real/new.png", "new.png", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MayBeSameFile(GetFileIdentity(dir_ + c.a), GetFileIdentity(dir_ + c.b)), c.same)
            << c.a << " and " << c.b;
    const std::string cwd = std::filesystem::current_path().string();
    ASSERT_EQ(chdir((dir_ + "real").c_str()), 0);
    EXPECT_TRUE(MayBeSameFile(GetFileIdentity("a.png"), GetFileIdentity(dir_ + "via/a.png")));
    ASSERT_EQ(chdir(cwd.c_str()), 0);
}

}  // namespace
