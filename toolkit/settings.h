// The key-value settings file: "key = value" lines, ";" comments and "[group]"
// sections, as the preferences file is kept.
//
// Only keys before the first group line are looked up or set; group lines,
// comments and everything after the first group survive a rewrite. Keys are
// matched without regard to ASCII letter case. Files are written as UTF-8
// with a byte order mark, one empty line, then CR LF lines. A file without the
// mark is taken as UTF-8 when it is valid UTF-8, else as Windows-1252 text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SettingsLine {
    enum class Kind { Key, Comment, Group, Other };
    Kind kind = Kind::Key;
    // Key: key and value, trimmed. Comment: the text after ";", trimmed.
    // Group: the trimmed line, "[" included. Other: a line without "=", kept as is.
    std::string key;
    std::string value;
};

struct SettingsDocument {
    std::vector<SettingsLine> lines;
};

// Never fails: any bytes make some document.
SettingsDocument ParseSettings(const uint8_t* data, size_t size);
std::vector<uint8_t> SerializeSettings(const SettingsDocument& doc);

// The value of a key before the first group; false when there is none.
bool FindSettingsValue(const SettingsDocument& doc, const std::string& key, std::string& value);
// Changes the key in place or appends it after the last line before the first
// group. False (document unchanged) when the key or value cannot be stored in
// one line: an empty key, a key with "=", or a CR or LF in either.
bool SetSettingsValue(SettingsDocument& doc, const std::string& key, const std::string& value);

// File operations: each one reads and parses the whole file.
// False when the file cannot be read or the key is missing.
bool ReadSettingsValue(const std::string& path, const std::string& key, std::string& value);
// Sets one key and rewrites the whole file atomically (a missing file starts
// empty). False, with the old file untouched, when it cannot be read or written.
bool WriteSettingsValue(const std::string& path, const std::string& key, const std::string& value);
