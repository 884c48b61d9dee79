// ".gro" archives: ZIP files of engine textures, read through libarchive.
// The program never unpacks an archive to disk: it lists the ".tex" entries
// and unpacks one entry into memory for the texture loader. Nothing here
// writes archives, and no archive stays open between calls.
//
// A texture inside an archive is named by one text, the archive entry path:
// the archive's file path, "::", then the entry's name exactly as stored
// (with the archive's own folder separators), e.g. "/g/pack.gro::a/b.tex".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// True when the path contains "::" anywhere.
bool IsArchivePath(const std::string& path);
// The text before the first "::" (the whole path when there is none).
std::string GetArchivePartOfPath(const std::string& path);
// The text after the first "::" (empty when there is none).
std::string GetEntryPartOfPath(const std::string& path);

// Refills gGroEntries with the archive's ".tex" entries (not directories; the
// extension of the name's last part compared in lower case). The number
// listed, or -1 when the file cannot be opened as a ZIP archive. A directory
// damaged part-way keeps the entries read before the damage.
int ListGroTextures(const std::string& archivePath);

// Unpacks the first entry whose stored name equals `entryName` exactly
// (letter case counts). Empty when the archive cannot be opened (outSize
// untouched), or when the entry is missing (outSize 0), empty, cannot be
// held in memory, is damaged, or unpacks to another size than the directory
// claims (outSize = the claimed size). Otherwise exactly outSize bytes.
std::vector<uint8_t> ExtractGroEntry(const std::string& archivePath, const std::string& entryName,
                                     int64_t& outSize);
