// ".gro" archive access: listing the ".tex" entries and unpacking one entry
// into memory. Reads ZIP only (stored, deflate, and whatever else libarchive
// was built with: bzip2, LZMA, XZ); encrypted entries do not unpack.
#include "formats/gro.h"

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "formats/formats.h"
#include "toolkit/files.h"
#include "toolkit/memory.h"

std::vector<GroEntry> gGroEntries;
std::vector<std::string> gGroSelectedNames;

void ResetGroGlobals() {
    gGroEntries.clear();
    gGroSelectedNames.clear();
}

namespace {

constexpr char kNoMemoryText[] = "Not enough memory for this operation.";

// Entry names are handed out in UTF-8 whatever the program's locale: libarchive
// converts names to the thread's character set and, in the plain C locale,
// gives no name at all for a UTF-8 name with letters outside ASCII.
class Utf8NamesScope {
public:
    Utf8NamesScope() {
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
            utf8_ = newlocale(LC_CTYPE_MASK, name, locale_t(0));
            if (utf8_) break;
        }
        if (utf8_) previous_ = uselocale(utf8_);
    }
    ~Utf8NamesScope() {
        if (!utf8_) return;
        uselocale(previous_);
        freelocale(utf8_);
    }
    Utf8NamesScope(const Utf8NamesScope&) = delete;
    Utf8NamesScope& operator=(const Utf8NamesScope&) = delete;

private:
    locale_t utf8_ = locale_t(0);
    locale_t previous_ = locale_t(0);
};

// One read-only archive handle, closed on every way out.
class ZipReader {
public:
    ZipReader() : archive_(archive_read_new()) {}
    ~ZipReader() {
        if (archive_) archive_read_free(archive_);
    }
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // True when the handle could not be made, or opening ran out of memory.
    bool OutOfMemory() const { return !archive_ || archive_errno(archive_) == ENOMEM; }

    bool Open(const std::string& path) {
        if (!archive_) return false;
        file_ = OpenRegularFileForReading(path);
        if (!file_.Ok()) return false;
        if (archive_read_support_format_zip(archive_) != ARCHIVE_OK) return false;
        return archive_read_open_fd(archive_, file_.Descriptor(), 64 * 1024) == ARCHIVE_OK;
    }

    // The next directory entry; false at the end or when the directory is
    // damaged (a warning, such as a name in another character set, still
    // gives the entry). `fatal` tells the two apart.
    bool Next(archive_entry*& entry, bool& fatal) {
        const int r = archive_read_next_header(archive_, &entry);
        fatal = r != ARCHIVE_EOF && r != ARCHIVE_OK && r != ARCHIVE_WARN;
        return r == ARCHIVE_OK || r == ARCHIVE_WARN;
    }

    archive* get() const { return archive_; }

private:
    Utf8NamesScope names_;  // declared first: it outlives the handle
    ReadOnlyFile file_;     // libarchive reads it but leaves closing it to us
    archive* archive_;
};

std::string StoredName(archive_entry* entry) {
    if (const char* utf8 = archive_entry_pathname_utf8(entry)) return utf8;
    const char* raw = archive_entry_pathname(entry);
    return raw ? raw : "";
}

int64_t StoredSize(archive_entry* entry) {
    if (!archive_entry_size_is_set(entry)) return 0;
    return std::max<int64_t>(0, archive_entry_size(entry));
}

unsigned char LowerAscii(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u;
}

bool IsTexName(const std::string& name) {
    const size_t cut = name.find_last_of("/\\");
    const std::string last = cut == std::string::npos ? name : name.substr(cut + 1);
    const size_t dot = last.rfind('.');
    return dot != std::string::npos &&
           ToLowerAscii(last.substr(dot + 1)) == GetFormatInfo(ImageFormat::Tex).extension;
}

enum class Unpacked { Ok, Damaged, NoMemory };

// Unpacks the current entry, which the directory says holds `claimed` bytes
// (at most kMaxGroEntryBytes), straight into `data`. The buffer grows, within
// the room, with the bytes that really arrive and never past the claim and
// one byte more: a directory that lies about a large size costs nothing until
// the data bears it out, and data that runs on past the claim is damage,
// found as soon as its first surplus byte arrives.
Unpacked ReadEntryData(archive* a, int64_t claimed, std::vector<uint8_t>& data) {
    const size_t most = size_t(claimed) + 1;
    size_t have = 0;
    for (;;) {
        if (!GrowWithinRoom(data, std::min(most, std::max(have + 1, size_t(1) << 20)), most))
            return Unpacked::NoMemory;
        const la_ssize_t got = archive_read_data(a, data.data() + have, data.size() - have);
        // Damaged data, a bad checksum, encryption, an unknown method, or
        // the unpacker's own memory running out.
        if (got < 0) return archive_errno(a) == ENOMEM ? Unpacked::NoMemory : Unpacked::Damaged;
        if (got == 0) break;
        have += size_t(got);
        if (have > size_t(claimed)) return Unpacked::Damaged;
    }
    data.resize(have);
    return have == size_t(claimed) ? Unpacked::Ok : Unpacked::Damaged;
}

}  // namespace

int ListGroTextures(const std::string& archivePath) {
    gGroEntries.clear();
    ZipReader zip;
    if (!zip.Open(archivePath)) return -1;
    archive_entry* entry = nullptr;
    bool fatal = false;
    int64_t seen = 0;
    while (zip.Next(entry, fatal)) {
        ++seen;
        if (archive_entry_filetype(entry) == AE_IFDIR) continue;
        std::string name = StoredName(entry);
        if (IsTexName(name)) gGroEntries.push_back({std::move(name), StoredSize(entry)});
    }
    // A directory that cannot be read at all is an archive that cannot be opened.
    if (fatal && seen == 0) return -1;
    std::stable_sort(gGroEntries.begin(), gGroEntries.end(), [](const GroEntry& a, const GroEntry& b) {
        return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                            [](char x, char y) { return LowerAscii(x) < LowerAscii(y); });
    });
    return int(std::min<size_t>(gGroEntries.size(), 0x7fffffff));
}

std::vector<uint8_t> ExtractGroEntry(const std::string& archivePath, const std::string& entryName,
                                     int64_t& outSize, std::string* failure) {
    std::string text = "Could not extract it from the archive.";
    std::vector<uint8_t> data;
    try {
        ZipReader zip;
        if (!zip.Open(archivePath)) {
            if (zip.OutOfMemory()) text = kNoMemoryText;
        } else {
            archive_entry* entry = nullptr;
            bool fatal = false;
            int64_t claimed = 0;
            while (zip.Next(entry, fatal)) {
                if (StoredName(entry) != entryName) continue;
                claimed = archive_entry_filetype(entry) == AE_IFDIR ? 0 : StoredSize(entry);
                break;
            }
            outSize = claimed;
            if (claimed > kMaxGroEntryBytes) {
                text = "Could not extract it from the archive: it would unpack to " + std::to_string(claimed) +
                       " bytes, more than any texture holds.";
            } else if (claimed > 0) {
                const Unpacked result = ReadEntryData(zip.get(), claimed, data);
                if (result != Unpacked::Ok) std::vector<uint8_t>().swap(data);
                if (result == Unpacked::NoMemory) text = kNoMemoryText;
            }
        }
    } catch (const std::bad_alloc&) {
        std::vector<uint8_t>().swap(data);
        text = kNoMemoryText;
    }
    if (data.empty() && text == kNoMemoryText) NoteMemoryRefusal();  // libarchive's, zlib's or ours
    if (data.empty() && failure) *failure = text;
    return data;
}
