#include "toolkit/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

std::string gConfigFolderOverride;
std::string gExecutableFolderOverride;
int64_t gWriteFailureAfter = -1;

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

int64_t GetFileSize(const std::string& path) {
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
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

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data) {
    data.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return false;
    }
    const uint64_t size = uint64_t(st.st_size);
    try {
        data.resize(size_t(size));
    } catch (const std::bad_alloc&) {
        close(fd);
        return false;
    }
    uint64_t done = 0;
    while (done < size) {
        const ssize_t n = read(fd, data.data() + done, size_t(std::min<uint64_t>(size - done, 1u << 30)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += uint64_t(n);
    }
    close(fd);
    if (done != size) {
        data.clear();
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

AtomicFile::AtomicFile(const std::string& path) : path_(path) {
    std::string folder = GetFolderPart(path);
    std::string name = GetFilePart(path);
    tempPath_ = folder + "." + name + ".XXXXXX";
    std::vector<char> templ(tempPath_.begin(), tempPath_.end());
    templ.push_back(0);
    const int fd = mkstemp(templ.data());
    if (fd < 0) return;
    tempPath_ = templ.data();
    FILE* f = fdopen(fd, "wb");
    if (!f) {
        close(fd);
        unlink(tempPath_.c_str());
        return;
    }
    // Keep the permissions an ordinary new file would get.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    file_ = f;
    ok_ = true;
}

AtomicFile::~AtomicFile() {
    if (file_) fclose(static_cast<FILE*>(file_));
    if (!committed_ && !tempPath_.empty()) unlink(tempPath_.c_str());
}

bool AtomicFile::Write(const void* data, size_t size) {
    if (!ok_) return false;
    if (gWriteFailureAfter >= 0) {
        if (int64_t(size) > gWriteFailureAfter) {
            gWriteFailureAfter = 0;
            ok_ = false;
            return false;
        }
        gWriteFailureAfter -= int64_t(size);
    }
    if (size && fwrite(data, 1, size, static_cast<FILE*>(file_)) != size) ok_ = false;
    return ok_;
}

bool AtomicFile::Commit() {
    if (!ok_ || committed_) return false;
    FILE* f = static_cast<FILE*>(file_);
    file_ = nullptr;
    bool good = fflush(f) == 0;
    good = fdatasync(fileno(f)) == 0 && good;  // the data must be on disk before the rename
    good = fclose(f) == 0 && good;
    if (!good || rename(tempPath_.c_str(), path_.c_str()) != 0) {
        ok_ = false;
        return false;
    }
    committed_ = true;
    return true;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size) {
    AtomicFile file(path);
    return file.Write(data, size) && file.Commit();
}

void SetWriteFailureAfterBytes(int64_t bytes) { gWriteFailureAfter = bytes; }
