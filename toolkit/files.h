// Files, folders and the places the program keeps things.
//
// Paths are UTF-8 and built with "/"; functions that split paths accept "/" and
// "\" alike. Every writer in the program saves through AtomicFile, so a failed
// or interrupted save never harms the file that was there before.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class FileKind { Missing, File, Folder };

FileKind GetFileKind(const std::string& path);
// Size in bytes of a file; -1 when it is missing or a folder.
int64_t GetFileSize(const std::string& path);
bool FolderExists(const std::string& path);
// Creates the folder and its missing parents; true when it exists afterwards.
bool CreateFolder(const std::string& path);
bool RemoveFile(const std::string& path);

// Reads a whole file. A file that cannot be opened, shrinks while being read,
// or fails to read is an error (false, `data` emptied).
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data);

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

// Writes a file through a temporary file in the target's folder that replaces
// the target only at Commit(), after every byte was written and flushed. When
// the object dies without a successful Commit() the temporary is removed and
// the old file is untouched. Write() calls after a failure do nothing.
class AtomicFile {
public:
    explicit AtomicFile(const std::string& path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool Ok() const { return ok_; }
    bool Write(const void* data, size_t size);
    bool Write(const std::vector<uint8_t>& data) { return Write(data.data(), data.size()); }
    // Flushes, closes and renames over the target; true when the file is in place.
    bool Commit();
    const std::string& TempPath() const { return tempPath_; }

private:
    std::string path_;
    std::string tempPath_;
    void* file_ = nullptr;  // FILE*
    bool ok_ = false;
    bool committed_ = false;
};

// Writes a whole buffer atomically; true on success.
bool WriteWholeFile(const std::string& path, const void* data, size_t size);

// Test hook: after `bytes` more bytes have gone through AtomicFile::Write, the
// next write fails as if the disk were full. -1 switches the injection off.
void SetWriteFailureAfterBytes(int64_t bytes);
