#include "toolkit/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>  // renameat
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <utility>

#include "toolkit/memory.h"

namespace {

std::string gConfigFolderOverride;
std::string gExecutableFolderOverride;
std::atomic<int64_t> gWriteFailureAfter{-1};
std::atomic<SaveCall> gFailingCallKind{SaveCall::Write};
std::atomic<int64_t> gFailingCall{0};
std::atomic<int> gFailingCallError{0};
std::atomic<NoReplaceWay> gNoReplaceWay{NoReplaceWay::Rename};
thread_local DeferredCommits* tDeferredCommits = nullptr;

std::string WithTrailingSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

}  // namespace

FileKind GetFileKind(const std::string& path) {
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0) return FileKind::Missing;
    if (S_ISDIR(st.st_mode)) return FileKind::Folder;
    return FileKind::File;
}

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int64_t GetFileSize(const std::string& path) {
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return int64_t(st.st_size);
}

bool FolderExists(const std::string& path) { return GetFileKind(path) == FileKind::Folder; }

bool CreateFolder(const std::string& path) {
    if (path.empty()) return false;
    if (FolderExists(path)) return true;
    std::string p = path;
    std::replace(p.begin(), p.end(), '\\', '/');
    for (size_t i = 1; i <= p.size(); ++i) {
        if (i == p.size() || p[i] == '/') {
            const std::string part = p.substr(0, i);
            if (!FolderExists(part)) mkdir(part.c_str(), 0755);
        }
    }
    return FolderExists(path);
}

bool RemoveFile(const std::string& path) { return !path.empty() && unlink(path.c_str()) == 0; }

ReadOnlyFile::~ReadOnlyFile() {
    if (fd_ >= 0) close(fd_);
}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

ReadOnlyFile OpenRegularFileForReading(const std::string& path, ReadFailure* failure) {
    auto refuse = [failure](ReadFailure why) {
        if (failure) *failure = why;
        return ReadOnlyFile();
    };
    if (failure) *failure = ReadFailure::None;
    // Looking first keeps devices from being opened at all (opening some has
    // effects of its own); a socket cannot be opened anyway.
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0) return refuse(ReadFailure::CannotOpen);
    if (!S_ISREG(st.st_mode)) return refuse(ReadFailure::NotRegularFile);
    // The name may point elsewhere by now: open without waiting for a pipe's
    // writer and without taking a terminal, then judge what was opened.
    ReadOnlyFile file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.Ok()) return refuse(ReadFailure::CannotOpen);
    if (fstat(file.Descriptor(), &st) != 0) return refuse(ReadFailure::CannotOpen);
    if (!S_ISREG(st.st_mode)) return refuse(ReadFailure::NotRegularFile);
    const int flags = fcntl(file.Descriptor(), F_GETFL);
    if (flags >= 0) fcntl(file.Descriptor(), F_SETFL, flags & ~O_NONBLOCK);
    return file;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data, ReadFailure* failure) {
    data.clear();
    const ReadOnlyFile file = OpenRegularFileForReading(path, failure);
    return file.Ok() && ReadWholeOpenFile(file, data, failure);
}

bool ReadWholeOpenFile(const ReadOnlyFile& file, std::vector<uint8_t>& data, ReadFailure* failure) {
    data.clear();
    if (failure) *failure = file.Ok() ? ReadFailure::CannotRead : ReadFailure::CannotOpen;
    if (!file.Ok()) return false;
    struct stat st;
    if (fstat(file.Descriptor(), &st) != 0) return false;
    const uint64_t size = uint64_t(st.st_size);
    // A file to decode may be as large as its picture.
    if (!ResizeWithinRoom(data, size_t(size))) {
        if (failure) *failure = ReadFailure::NoMemory;
        return false;
    }
    uint64_t done = 0;
    while (done < size) {
        const ssize_t n = pread(file.Descriptor(), data.data() + done, size_t(std::min<uint64_t>(size - done, 1u << 30)),
                                off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += uint64_t(n);
    }
    if (done != size) {
        data.clear();
        return false;
    }
    if (failure) *failure = ReadFailure::None;
    return true;
}

bool ReadFileForDecoding(const std::string& path, std::vector<uint8_t>& data, std::string& errorText) {
    // A short read is a failure, never a picture of zeros. Once the file
    // opens, what failed was holding or reading its bytes: a file too large
    // for memory says so instead of claiming it cannot be opened.
    ReadFailure failure = ReadFailure::None;
    if (!ReadWholeFile(path, data, &failure)) {
        errorText =
            failure == ReadFailure::CannotRead || failure == ReadFailure::NoMemory ? "The file is empty or too large."
                                                                                   : "The file cannot be opened.";
        return false;
    }
    if (data.empty()) {
        errorText = "The file is empty or too large.";
        return false;
    }
    return true;
}

std::vector<FolderEntry> ScanFolder(const std::string& path) {
    std::vector<FolderEntry> entries;
    DIR* dir = opendir(path.empty() ? "." : path.c_str());
    if (!dir) return entries;
    const std::string base = WithTrailingSlash(path);
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        FolderEntry entry;
        entry.name = name;
        entry.isFolder = GetFileKind(base + name) == FileKind::Folder;
        entries.push_back(std::move(entry));
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
        const std::string la = ToLowerAscii(a.name), lb = ToLowerAscii(b.name);
        return la != lb ? la < lb : a.name < b.name;
    });
    return entries;
}

std::string GetConfigFolder() {
    if (!gConfigFolderOverride.empty()) return WithTrailingSlash(gConfigFolderOverride);
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg) return WithTrailingSlash(xdg);
    const char* home = std::getenv("HOME");
    return WithTrailingSlash(std::string(home && *home ? home : "/tmp") + "/.config");
}

void SetConfigFolderOverride(const std::string& folder) { gConfigFolderOverride = folder; }

std::string GetExecutableFolder() {
    if (!gExecutableFolderOverride.empty()) return WithTrailingSlash(gExecutableFolderOverride);
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return "./";
    buffer[n] = 0;
    return GetFolderPart(buffer);
}

void SetExecutableFolderOverride(const std::string& folder) { gExecutableFolderOverride = folder; }

std::string GetFolderPart(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string GetFilePart(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string GetLowerExtension(const std::string& path) {
    const std::string file = GetFilePart(path);
    const size_t dot = file.rfind('.');
    return dot == std::string::npos ? std::string() : ToLowerAscii(file.substr(dot + 1));
}

std::string ToLowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}

std::string ToUpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return text;
}

std::string GetTextAfterLastSeparator(const std::string& text) {
    std::string t = text;
    std::replace(t.begin(), t.end(), '\\', '/');
    const size_t cut = t.rfind('/');
    return cut == std::string::npos ? t : t.substr(cut + 1);
}

namespace {

constexpr char kArchiveSeparator[] = "::";

// Where an archive entry path splits, or npos for a plain path. "::" may be
// part of a real file's name ("we::ird.png"), so a path that names an
// existing regular file as a whole is a file, whatever it contains.
size_t ArchiveSeparatorAt(const std::string& path) {
    const size_t at = path.find(kArchiveSeparator);
    if (at == std::string::npos || IsRegularFile(path)) return std::string::npos;
    return at;
}

}  // namespace

bool IsArchivePath(const std::string& path) { return ArchiveSeparatorAt(path) != std::string::npos; }

std::string GetArchivePartOfPath(const std::string& path) { return path.substr(0, ArchiveSeparatorAt(path)); }

std::string GetEntryPartOfPath(const std::string& path) {
    const size_t at = ArchiveSeparatorAt(path);
    return at == std::string::npos ? std::string() : path.substr(at + 2);
}

std::string GetDisplayName(const std::string& path) {
    if (IsArchivePath(path)) return GetTextAfterLastSeparator(GetEntryPartOfPath(path));
    return GetFilePart(path);
}

namespace {

constexpr int kMaxLinkHops = 40;  // the kernel's own limit for a chain of links
// A save gathers small writes up to this many bytes in a buffer of its own:
// a C stream whose flush fails drops the bytes and writes on after them, so
// its failure is easily lost; here every write call's result is seen.
constexpr size_t kWriteBufferBytes = size_t(64) << 10;

// Follows symbolic links from `path` to the name a save really writes: an
// existing file that is no link, or the missing name at the end of the chain
// (a new file, or the target of a dangling link). False for a loop or a link
// that cannot be read.
bool ResolveSaveTarget(const std::string& path, std::string& target, struct stat& st, bool& exists) {
    std::string current = path;
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        if (lstat(current.c_str(), &st) != 0) {
            if (errno != ENOENT) return false;
            exists = false;
            target = current;
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            exists = true;
            target = current;
            return true;
        }
        char body[4096];
        const ssize_t n = readlink(current.c_str(), body, sizeof body);
        if (n <= 0 || size_t(n) >= sizeof body) return false;
        const std::string next(body, size_t(n));
        const size_t cut = current.rfind('/');
        current = next[0] == '/' || cut == std::string::npos ? next : current.substr(0, cut + 1) + next;
    }
    return false;
}

// Creates a new file with a short random name in the folder: O_EXCL never
// opens a name that is already there, so no file of the user's is ever taken
// for the temporary. Mode 0666 lets the umask decide, as for any new file.
int CreateTemporary(int folderFd, std::string& name) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    uint64_t state = 0;
    if (getrandom(&state, sizeof state, GRND_NONBLOCK) != ssize_t(sizeof state)) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        state = uint64_t(now.tv_nsec) ^ (uint64_t(now.tv_sec) << 30) ^ (uint64_t(getpid()) << 48);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = ".orvanta-";
        for (int i = 0; i < 6; ++i) {
            state = state * 6364136223846793005u + 1442695040888963407u;
            candidate += kLetters[(state >> 33) % 62];
        }
        const int fd = openat(folderFd, candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            name = candidate;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// True (with errno set) when the test hook says this call fails.
bool SaveCallFailsForTesting(SaveCall kind) {
    if (gFailingCallKind.load(std::memory_order_relaxed) != kind) return false;
    int64_t left = gFailingCall.load(std::memory_order_relaxed);
    while (left > 0 && !gFailingCall.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
    }
    if (left != 1) return false;
    errno = gFailingCallError.load(std::memory_order_relaxed);
    return true;
}

// Every write of a save goes through here: all of the bytes at the
// descriptor's position, going on after a short write or a signal. A call
// that fails ends it, and its caller's save with it.
bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        if (SaveCallFailsForTesting(SaveCall::Write)) return false;
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

class FdCloser {
public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser() {
        if (fd_ >= 0) close(fd_);
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    // Closes now and tells whether the close succeeded.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return close(fd) == 0;
    }

private:
    int fd_;
};

}  // namespace

AtomicFile::AtomicFile(const std::string& path) {
    std::string target;
    struct stat st;
    bool exists = false;
    if (path.empty() || !ResolveSaveTarget(path, target, st, exists)) return;
    if (exists) {
        // Never replace a folder, pipe or device. A file without any write
        // bit is read-only by the user's choice, which binds root as well.
        if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0) return;
        if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return;
        targetDevice_ = uint64_t(st.st_dev);
        targetInode_ = uint64_t(st.st_ino);
        inPlace_ = st.st_nlink > 1;
        existed_ = true;
    }
    // The file system's own separator only: a "\" is part of a Linux name.
    const size_t cut = target.rfind('/');
    const std::string folder = cut == std::string::npos ? std::string() : target.substr(0, cut + 1);
    targetName_ = cut == std::string::npos ? target : target.substr(cut + 1);
    if (targetName_.empty()) return;
    folderFd_ = open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folderFd_ < 0) return;

    const int fd = CreateTemporary(folderFd_, tempName_);
    if (fd < 0) return;
    tempPath_ = folder + tempName_;
    if (exists && !inPlace_) {
        // Owner and group where the system allows it (root, or a group of
        // ours); the permission bits after them, since a change of owner
        // clears the set-id bits.
        struct stat made;
        if (fstat(fd, &made) == 0 && (made.st_uid != st.st_uid || made.st_gid != st.st_gid)) {
            [[maybe_unused]] const int owned = fchown(fd, st.st_uid, st.st_gid);
        }
        fchmod(fd, st.st_mode & 07777);
    }
    fd_ = fd;
    buffer_.reset(new (std::nothrow) uint8_t[kWriteBufferBytes]);
    ok_ = buffer_ != nullptr;  // else the destructor removes the temporary
}

AtomicFile::~AtomicFile() {
    if (fd_ >= 0) close(fd_);
    RemoveTemporary();
    if (folderFd_ >= 0) close(folderFd_);
}

void AtomicFile::ForgetTemporary() {
    tempName_.clear();
    tempPath_.clear();
}

bool AtomicFile::RemoveTemporary() {
    // A removal that fails for a moment (a busy or briefly failing file
    // system) would leave a file as large as the picture beside the target.
    constexpr int kTries = 3;
    for (int i = 0; i < kTries && !tempName_.empty(); ++i) {
        const bool removed =
            !SaveCallFailsForTesting(SaveCall::RemoveTemporary) && unlinkat(folderFd_, tempName_.c_str(), 0) == 0;
        if (removed || errno == ENOENT) ForgetTemporary();
    }
    return tempName_.empty();
}

bool AtomicFile::Write(const void* data, size_t size) {
    if (!ok_) return false;
    for (int64_t left = gWriteFailureAfter.load(std::memory_order_relaxed); left >= 0;) {
        if (int64_t(size) > left) {
            gWriteFailureAfter.store(0, std::memory_order_relaxed);
            ok_ = false;
            return false;
        }
        if (gWriteFailureAfter.compare_exchange_weak(left, left - int64_t(size), std::memory_order_relaxed)) break;
    }
    // Small pieces (a PNG writer's chunks) are gathered; a piece as large
    // as the buffer goes straight to the file.
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (buffered_ + size > kWriteBufferBytes && !FlushBuffer()) return false;
    if (size >= kWriteBufferBytes) {
        ok_ = WriteAll(fd_, bytes, size);
        if (!ok_) return false;
    } else if (size > 0) {
        std::memcpy(buffer_.get() + buffered_, bytes, size);
        buffered_ += size;
    }
    written_ += size;
    // The disk is sent what is written as it comes, not all at the flush:
    // a memory control group is charged the file's pages while they wait,
    // and a large save would otherwise fill it with pages the kernel cannot
    // give back before they are written, and end the program for them.
    // The request is a hint: where it cannot be given (not supported, no
    // memory to start with) the final flush does it all and decides. Only a
    // failure that says bytes were lost (the disk's error, no space) fails
    // the save now.
    constexpr uint64_t kWriteBackBytes = uint64_t(8) << 20;
    if (written_ - sentToDisk_ >= kWriteBackBytes) {
        if (!FlushBuffer()) return false;
        if ((SaveCallFailsForTesting(SaveCall::WriteBack) ||
             sync_file_range(fd_, off64_t(sentToDisk_), off64_t(written_ - sentToDisk_), SYNC_FILE_RANGE_WRITE) != 0) &&
            (errno == EIO || errno == ENOSPC || errno == EDQUOT)) {
            ok_ = false;
            return false;
        }
        sentToDisk_ = written_;
    }
    return true;
}

bool AtomicFile::FlushBuffer() {
    if (ok_ && buffered_ > 0) ok_ = WriteAll(fd_, buffer_.get(), buffered_);
    buffered_ = 0;
    return ok_;
}

bool AtomicFile::CopyIntoTarget(int tempFd) {
    // Not blocking: should a pipe have taken the file's place meanwhile, the
    // open fails instead of waiting, and the inode check refuses anything else.
    const int out = openat(folderFd_, targetName_.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (out < 0) return false;
    FdCloser closer(out);
    struct stat st;
    if (fstat(out, &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_dev) != targetDevice_ ||
        uint64_t(st.st_ino) != targetInode_)
        return false;
    // The space is claimed before the first old byte is overwritten, so a
    // full disk fails here with the old picture intact.
    if (written_ > 0 && fallocate(out, FALLOC_FL_KEEP_SIZE, 0, off_t(written_)) != 0 &&
        (errno == ENOSPC || errno == EDQUOT || errno == EFBIG))
        return false;
    constexpr size_t kChunk = size_t(1) << 20;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kChunk]);
    if (!buffer) return false;
    for (uint64_t done = 0; done < written_;) {
        const ssize_t n = pread(tempFd, buffer.get(), size_t(std::min<uint64_t>(kChunk, written_ - done)), off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || !WriteAll(out, buffer.get(), size_t(n))) return false;
        done += uint64_t(n);
    }
    return ftruncate(out, off_t(written_)) == 0 && fsync(out) == 0 && closer.Close();
}

bool AtomicFile::Commit() {
    if (!ok_ || committed_) return false;
    if (tDeferredCommits) return tDeferredCommits->Hold(*this);
    return CommitNow() == CommitResult::InPlace;
}

bool AtomicFile::Sync() {
    if (!ok_ || committed_) return false;
    if (synced_) return true;
    synced_ = FlushBuffer() && fdatasync(fd_) == 0;
    ok_ = synced_;
    return ok_;
}

CommitResult AtomicFile::CommitNow(ExistingFile existing) {
    const bool keep = existing == ExistingFile::Keep;
    if (keep && existed_ && ok_ && !committed_) return CommitResult::AlreadyThere;
    // The data must be on disk before it becomes the file.
    if (!Sync()) return CommitResult::Failed;
    // A close can report what the flush could not (a network file system).
    const int fd = std::exchange(fd_, -1);
    bool good = !inPlace_ || CopyIntoTarget(fd);
    good = close(fd) == 0 && good;
    CommitResult result = good ? CommitResult::InPlace : CommitResult::Failed;
    if (good && keep) {
        result = PlaceWithoutReplacing();
    } else if (good && !inPlace_) {
        if (renameat(folderFd_, tempName_.c_str(), folderFd_, targetName_.c_str()) != 0)
            result = CommitResult::Failed;
        else
            ForgetTemporary();
    }
    if (result != CommitResult::InPlace) {
        ok_ = false;
        return result;  // the temporary, if still there, goes with the object
    }
    // The target is whole: the save stands even if the copied temporary
    // will not go yet (the destructor tries once more).
    if (inPlace_) RemoveTemporary();
    committed_ = true;
    return CommitResult::InPlace;
}

CommitResult AtomicFile::PlaceWithoutReplacing() {
    const char* temp = tempName_.c_str();
    const char* target = targetName_.c_str();
    const NoReplaceWay first = gNoReplaceWay.load(std::memory_order_relaxed);
    int error = EINVAL;
    if (first == NoReplaceWay::Rename)
        error = renameat2(folderFd_, temp, folderFd_, target, RENAME_NOREPLACE) ? errno : 0;
    if (error == 0) {
        ForgetTemporary();
        return CommitResult::InPlace;
    }
    if (error == EEXIST) return CommitResult::AlreadyThere;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) return CommitResult::Failed;
    // Some file systems refuse the flag; a second name for the temporary
    // cannot take a name that is there either.
    error = EPERM;
    if (first != NoReplaceWay::Placeholder) error = linkat(folderFd_, temp, folderFd_, target, 0) ? errno : 0;
    if (error == 0) {
        // The temporary is a second name of the target now: left behind, it
        // would make the next save of the file copy into it in place. The
        // target is whole, so the save stands either way.
        RemoveTemporary();
        return CommitResult::InPlace;
    }
    if (error == EEXIST) return CommitResult::AlreadyThere;
    if (error != EPERM && error != EOPNOTSUPP) return CommitResult::Failed;
    // Without hard links (vfat, many FUSE file systems): claim the name with
    // an empty file that only a free name lets us create, then rename over it.
    const int fd = openat(folderFd_, target, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return errno == EEXIST ? CommitResult::AlreadyThere : CommitResult::Failed;
    struct stat claimed;
    const bool known = fstat(fd, &claimed) == 0;
    close(fd);
    if (renameat(folderFd_, temp, folderFd_, target) == 0) {
        ForgetTemporary();
        return CommitResult::InPlace;
    }
    // Only the placeholder we made goes, never a file that took its place.
    struct stat now;
    if (known && fstatat(folderFd_, target, &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == claimed.st_dev &&
        now.st_ino == claimed.st_ino)
        unlinkat(folderFd_, target, 0);
    return CommitResult::Failed;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size) {
    AtomicFile file(path);
    return file.Write(data, size) && file.Commit();
}

DeferredCommits::DeferredCommits() : outer_(tDeferredCommits) { tDeferredCommits = this; }

DeferredCommits::~DeferredCommits() { Detach(); }

void DeferredCommits::Detach() {
    if (detached_) return;
    tDeferredCommits = outer_;
    detached_ = true;
}

bool DeferredCommits::Hold(AtomicFile& file) {
    // What the writer wrote must be in the temporary now, so a full disk is
    // still the writer's failure; only the flush and the rename wait.
    if (!file.FlushBuffer()) return false;
    // Without room to hold it the save fails: committed now, the file would
    // skip its turn and could replace one that Finish() is told to keep.
    std::unique_ptr<AtomicFile> held(new (std::nothrow) AtomicFile);
    try {
        if (held) held_.reserve(held_.size() + 1);
    } catch (const std::bad_alloc&) {
        held.reset();
    }
    if (!held) {
        file.ok_ = false;
        return false;
    }
    // The writer's object dies empty; the held one owns the temporary.
    AtomicFile& to = *held;
    to.targetName_ = std::move(file.targetName_);
    to.tempName_ = std::exchange(file.tempName_, std::string());
    to.tempPath_ = std::exchange(file.tempPath_, std::string());
    to.folderFd_ = std::exchange(file.folderFd_, -1);
    to.fd_ = std::exchange(file.fd_, -1);  // the buffer, empty now, stays behind
    to.ok_ = std::exchange(file.ok_, false);
    to.existed_ = file.existed_;
    to.inPlace_ = file.inPlace_;
    to.targetDevice_ = file.targetDevice_;
    to.targetInode_ = file.targetInode_;
    to.written_ = file.written_;
    to.sentToDisk_ = file.sentToDisk_;
    held_.push_back(std::move(held));
    return true;
}

void DeferredCommits::Flush() {
    for (std::unique_ptr<AtomicFile>& file : held_) file->Sync();
}

bool DeferredCommits::Finish() { return Finish(ExistingFile::Replace) == CommitResult::InPlace; }

CommitResult DeferredCommits::Finish(ExistingFile existing) {
    CommitResult all = CommitResult::InPlace;
    for (std::unique_ptr<AtomicFile>& file : held_) {
        const CommitResult one = file->CommitNow(existing);
        if (one == CommitResult::Failed || all == CommitResult::InPlace) all = one;
    }
    held_.clear();
    return all;
}

FileIdentity GetFileIdentity(const std::string& path) {
    const std::string file = IsArchivePath(path) ? GetArchivePartOfPath(path) : path;
    FileIdentity identity;
    std::string target;
    struct stat st;
    bool exists = false;
    if (!ResolveSaveTarget(file, target, st, exists)) {
        identity.entry = ToLowerAscii(file);
        return identity;
    }
    const size_t cut = target.rfind('/');
    const std::string folder = cut == std::string::npos ? "." : target.substr(0, cut + 1);
    char real[PATH_MAX];
    identity.entry = ToLowerAscii((realpath(folder.c_str(), real) ? std::string(real) : folder) + "/" +
                                  (cut == std::string::npos ? target : target.substr(cut + 1)));
    if (exists) {
        identity.device = uint64_t(st.st_dev);
        identity.inode = uint64_t(st.st_ino);
    }
    return identity;
}

bool MayBeSameFile(const FileIdentity& a, const FileIdentity& b) { return a.entry == b.entry || IsSameFile(a, b); }

bool IsSameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.inode != 0 && a.device == b.device && a.inode == b.inode;
}

void SetWriteFailureAfterBytes(int64_t bytes) { gWriteFailureAfter.store(bytes, std::memory_order_relaxed); }

void SetSaveCallFailure(SaveCall kind, int64_t call, int error) {
    gFailingCallKind.store(kind, std::memory_order_relaxed);
    gFailingCallError.store(error, std::memory_order_relaxed);
    gFailingCall.store(call, std::memory_order_relaxed);
}

void SetNoReplaceWayForTesting(NoReplaceWay way) { gNoReplaceWay.store(way, std::memory_order_relaxed); }
