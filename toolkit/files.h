// Files, folders and the places the program keeps things.
//
// Paths are UTF-8 and built with "/"; functions that split paths accept "/" and
// "\" alike. Every writer in the program saves through AtomicFile, so a failed
// or interrupted save never harms the file that was there before.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class FileKind { Missing, File, Folder };

FileKind GetFileKind(const std::string& path);
// True when the path names a regular file (links followed): not a folder,
// named pipe, socket or device.
bool IsRegularFile(const std::string& path);
// Size in bytes of a regular file; -1 when it is missing, a folder or any
// other kind of file (a pipe or device has no size worth the name).
int64_t GetFileSize(const std::string& path);
bool FolderExists(const std::string& path);
// Creates the folder and its missing parents; true when it exists afterwards.
bool CreateFolder(const std::string& path);
bool RemoveFile(const std::string& path);

// A descriptor opened for reading, closed when the object dies.
class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    explicit ReadOnlyFile(int fd) : fd_(fd) {}
    ~ReadOnlyFile();
    ReadOnlyFile(ReadOnlyFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool Ok() const { return fd_ >= 0; }
    int Descriptor() const { return fd_; }

private:
    int fd_ = -1;
};

// Why a file could not be read.
enum class ReadFailure {
    None,
    CannotOpen,      // missing, not permitted, or no such path
    NotRegularFile,  // a folder, named pipe, socket or device
    CannotRead,      // a regular file that could not be held in memory or read whole
    NoMemory,        // one the process has no room to hold (toolkit/memory.h)
};

// The one way the program opens a file to read it: only a regular file
// (links followed) opens. The open never waits (a named pipe without a writer
// is refused at once, not waited for), and the kind is checked on the opened
// descriptor itself, so a file swapped for a pipe after a check cannot slip
// through. A refused path gives a handle that is not Ok().
ReadOnlyFile OpenRegularFileForReading(const std::string& path, ReadFailure* failure = nullptr);

// Reads a whole regular file through OpenRegularFileForReading. A file that
// cannot be opened, is not a regular file, shrinks while being read, or fails
// to read is an error (false, `data` emptied, the reason in *failure).
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data, ReadFailure* failure = nullptr);
// The same for a file already opened by OpenRegularFileForReading, read from
// its first byte whatever its position.
bool ReadWholeOpenFile(const ReadOnlyFile& file, std::vector<uint8_t>& data, ReadFailure* failure = nullptr);

// Reads a whole file for a decoder, with the reason worded for the user. A
// file that cannot be opened (missing, a folder, not a plain file) gives "The
// file cannot be opened."; one that opens but is empty or cannot be held or
// read whole gives "The file is empty or too large.". False with the text in
// errorText.
bool ReadFileForDecoding(const std::string& path, std::vector<uint8_t>& data, std::string& errorText);

struct FolderEntry {
    std::string name;
    bool isFolder = false;
};
// The entries of one folder ("." and ".." left out), sorted by name without
// regard to letter case (ties by exact name), so scans are deterministic.
std::vector<FolderEntry> ScanFolder(const std::string& path);

// The user's configuration folder: $XDG_CONFIG_HOME, else ~/.config, with a
// trailing "/". Tests can override it.
std::string GetConfigFolder();
void SetConfigFolderOverride(const std::string& folder);  // empty restores the real one
// The folder of the running executable, with a trailing "/". Overridable for tests.
std::string GetExecutableFolder();
void SetExecutableFolderOverride(const std::string& folder);

// Path helpers: the folder part up to and including the last "/" or "\"
// (empty when none), the part after it, and the lower-cased extension of the
// file part (empty when none).
std::string GetFolderPart(const std::string& path);
std::string GetFilePart(const std::string& path);
std::string GetLowerExtension(const std::string& path);
std::string ToLowerAscii(std::string text);
std::string ToUpperAscii(std::string text);
// The text after the last "/" (every "\" counted as "/"), or the whole text.
std::string GetTextAfterLastSeparator(const std::string& text);

// Archive entry paths: a ".gro" archive's file path, "::", then the entry's
// name exactly as stored (with the archive's own folder separators), e.g.
// "/g/pack.gro::a/b.tex". One text names a file on disk or an archive entry.
//
// True when the path contains "::" and does not, as a whole, name an
// existing regular file (a file may have "::" in its name). Every caller that
// tells archive entries from files asks this, never the text alone.
bool IsArchivePath(const std::string& path);
// The text before the first "::" of an archive entry path (the whole path
// for any other path).
std::string GetArchivePartOfPath(const std::string& path);
// The text after the first "::" of an archive entry path (empty for any
// other path).
std::string GetEntryPartOfPath(const std::string& path);
// The name shown to the user: the file name of a path, or the last component
// of an archive entry path's entry part.
std::string GetDisplayName(const std::string& path);

// Whether putting a saved file in place may replace a file of its name.
enum class ExistingFile { Replace, Keep };
// What putting a saved file in place came to: done, left out because a file
// of its name was there (with ExistingFile::Keep only), or failed.
enum class CommitResult { InPlace, AlreadyThere, Failed };

// Writes a file so that a failed or interrupted save never harms what was
// there before, and a successful one keeps what the user had around the
// picture:
// - A symbolic link is followed (through a chain of links, a dangling one
//   included) and its target is written; the link stays a link.
// - An existing target that is not a plain file (a folder, a named pipe, a
//   device), or that is read-only (no write bit set, so also for root) or not
//   writable by this process, is refused before anything is created.
// - The data goes to a new temporary file with a short name of its own in the
//   target's folder, so any legal target name works. It gets the old file's
//   permission bits, and its owner and group where the system allows; a new
//   file gets the usual 0666 less the umask. Commit() flushes it to disk and
//   renames it over the target.
// - A target with more than one hard link keeps its links: the complete,
//   flushed temporary is copied into the file in place at Commit() and then
//   removed. The space is reserved first where the file system can, so a
//   full disk still leaves the old file as it was; only this case gives up
//   the all-or-nothing rename (a crash or a disk error during the copy can
//   mix the two).
// - Only the temporary this object created is ever removed: when the object
//   dies without a successful Commit(), it goes and the old file is untouched.
// - One failed write, flush or close fails the save for good, even when the
//   disk takes the bytes after it again (space freed, a network file system
//   back): the bytes it refused are not in the temporary. Write() calls after
//   a failure do nothing, and Commit() fails.
class AtomicFile {
public:
    explicit AtomicFile(const std::string& path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool Ok() const { return ok_; }
    bool Write(const void* data, size_t size);
    bool Write(const std::vector<uint8_t>& data) { return Write(data.data(), data.size()); }
    // Puts the data in place; true when the target holds every byte written.
    // While a DeferredCommits lives on this thread, the file is only handed
    // to it (true: every byte reached the temporary); the flush and the
    // rename happen at its Finish().
    bool Commit();
    // The temporary file while it exists (empty when none was created).
    const std::string& TempPath() const { return tempPath_; }

private:
    friend class DeferredCommits;
    AtomicFile() = default;
    // Puts every byte written on disk in the temporary; done once.
    bool Sync();
    // Hands the buffered bytes to the temporary; false once any write failed.
    bool FlushBuffer();
    CommitResult CommitNow(ExistingFile existing = ExistingFile::Replace);
    bool CopyIntoTarget(int tempFd);
    CommitResult PlaceWithoutReplacing();
    // Removes the temporary, trying again after a failure; false when it is
    // still there.
    bool RemoveTemporary();
    // For a temporary that has become the target under its own name.
    void ForgetTemporary();

    std::string targetName_;  // the resolved target's name in its folder
    std::string tempName_;
    std::string tempPath_;
    int folderFd_ = -1;
    int fd_ = -1;  // the temporary
    std::unique_ptr<uint8_t[]> buffer_;  // bytes not yet handed to the temporary
    size_t buffered_ = 0;
    bool ok_ = false;
    bool existed_ = false;  // the target was there when the temporary was made
    bool synced_ = false;
    bool committed_ = false;
    bool inPlace_ = false;  // several hard links: copy into the target
    uint64_t targetDevice_ = 0, targetInode_ = 0;
    uint64_t written_ = 0;  // bytes taken by Write(), the buffered ones too
    uint64_t sentToDisk_ = 0;  // bytes handed to the disk's writeback so far
};

// Writes a whole buffer atomically; true on success.
bool WriteWholeFile(const std::string& path, const void* data, size_t size);

// Holds back the slow end of the atomic saves made on its thread while it
// lives: their Commit() hands the written temporary over, and Finish() later
// flushes each one to disk and renames it into place, in the order they were
// handed over. A writer runs unchanged; its caller can meanwhile let go of
// the picture, and several files can wait for the disk at once from
// different threads. Flush() can do the disk's part early and leave only
// the renames to Finish(), so the caller decides when the files appear.
// Files not finished when it dies are dropped: their temporaries go and
// their targets stay as they were. Scopes nest; the innermost one on a
// thread collects.
class DeferredCommits {
public:
    DeferredCommits();
    ~DeferredCommits();
    DeferredCommits(const DeferredCommits&) = delete;
    DeferredCommits& operator=(const DeferredCommits&) = delete;

    // Flushes every file handed over so far to disk, still under its
    // temporary name; a failure shows in Finish().
    void Flush();
    // Stops collecting: later saves on this thread commit as they would
    // without it. The files handed over so far stay held, and the object may
    // then be finished, or die, on any thread. Only the innermost scope of a
    // thread may let go.
    void Detach();
    // Commits every file handed over so far; true when all of them are in
    // place (also when there were none). Any thread may call it.
    bool Finish();
    // The same, and with ExistingFile::Keep no file replaces another: each
    // goes in place only if no file of its name (a link included) is there
    // at that moment, decided by the file system in one step, so a file
    // another program made a moment before stays. A target that was there
    // when the temporary was made counts as there, one with several hard
    // links too. A file left out is dropped. Failed when any file failed,
    // else AlreadyThere when any was left out.
    CommitResult Finish(ExistingFile existing);

private:
    friend class AtomicFile;
    bool Hold(AtomicFile& file);

    DeferredCommits* outer_;
    bool detached_ = false;
    std::vector<std::unique_ptr<AtomicFile>> held_;
};

// What reading or saving a path reaches, for telling whether two paths may
// name one file: symbolic links followed as a save follows them (a dangling
// last link to its target), the folder resolved to its real path, and the
// result lower-cased, since names that differ only in letter case are one
// file on some file systems; for an existing file also its device and inode,
// so hard links meet. An archive entry path stands for its archive.
struct FileIdentity {
    std::string entry;
    uint64_t device = 0, inode = 0;  // 0, 0 while nothing exists there
};
FileIdentity GetFileIdentity(const std::string& path);
// True when the two may be one file (never false for one file).
bool MayBeSameFile(const FileIdentity& a, const FileIdentity& b);
// True when both name one existing file: the same device and inode.
bool IsSameFile(const FileIdentity& a, const FileIdentity& b);

// Test hook: after `bytes` more bytes have gone through AtomicFile::Write, the
// next write fails as if the disk were full. -1 switches the injection off.
// The count is shared by every thread's writes.
void SetWriteFailureAfterBytes(int64_t bytes);

// Test hook: the `call`-th system call of that kind that atomic saves make
// from now on (1: the next one) fails once with `error` as its errno; the
// calls after it work again. 0 switches the injection off. Counted over
// every thread. The kinds: a write of the file's bytes, the request to start
// writing them back to disk, the removal of a temporary.
enum class SaveCall { Write, WriteBack, RemoveTemporary };
void SetSaveCallFailure(SaveCall kind, int64_t call, int error);

// Test hook: the way a commit with ExistingFile::Keep takes first, as if the
// file system refused those before it: the rename that refuses to replace
// (the default), a hard link made under the target name, or an empty file
// created there only if new and then renamed over.
enum class NoReplaceWay { Rename, Link, Placeholder };
void SetNoReplaceWayForTesting(NoReplaceWay way);
