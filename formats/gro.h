// ".gro" archives: ZIP files of engine textures, read through libarchive.
// The program never unpacks an archive to disk: it lists the ".tex" entries
// and unpacks one entry into memory for the texture loader. Nothing here
// writes archives, and no archive stays open between calls.
//
// A texture inside an archive is named by one text, the archive entry path
// (toolkit/files.h splits and tells it apart from a file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/tex.h"

struct GroEntry {
    std::string name;   // as stored in the archive, folders included
    int64_t size = 0;   // unpacked size from the archive directory
};

// The ".tex" entries of the archive listed last, sorted by name ignoring
// ASCII letter case (ties keep the archive's order). A filled chooser list
// indexes it through its row data.
extern std::vector<GroEntry> gGroEntries;
// The entry names picked in the chooser last, in list order.
extern std::vector<std::string> gGroSelectedNames;
// Both lists empty, as at start.
void ResetGroGlobals();

// Refills gGroEntries with the archive's ".tex" entries (not directories; the
// extension of the name's last part compared in lower case). The number
// listed, or -1 when the file cannot be opened as a ZIP archive. A directory
// damaged part-way keeps the entries read before the damage.
int ListGroTextures(const std::string& archivePath);

// The most bytes an entry may unpack to. Entries are engine textures, and the
// texture readers take at most kMaxTextureSide x kMaxTextureSide pixels; the
// largest such texture stores 4 bytes a pixel uncompressed (1 GiB), a full
// chain of smaller mip levels adds a third of that, and headers and names
// stay well inside 1 MiB. No real texture comes near this, while an entry
// that claims more would take gigabytes for nothing.
constexpr int64_t kMaxGroEntryBytes = int64_t(kMaxTextureSide) * kMaxTextureSide * 4 * 4 / 3 + (int64_t(1) << 20);

// Unpacks the first entry whose stored name equals `entryName` exactly
// (letter case counts). Empty when the archive cannot be opened (outSize
// untouched), or when the entry is missing (outSize 0), empty, larger than
// kMaxGroEntryBytes, cannot be held in memory, is damaged, or unpacks to
// another size than the directory claims (outSize = the claimed size).
// Otherwise exactly outSize bytes. Nothing beyond the claimed size is ever
// unpacked, and an entry over the limit fails before any memory is taken.
// When it gives nothing and `failure` is given, *failure is the text for the
// user: "Could not extract it from the archive." for a missing or damaged
// entry, or a text that names the size or the lack of memory.
std::vector<uint8_t> ExtractGroEntry(const std::string& archivePath, const std::string& entryName,
                                     int64_t& outSize, std::string* failure = nullptr);
