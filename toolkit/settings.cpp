#include "toolkit/settings.h"

#include "toolkit/files.h"

namespace {

// Windows-1252 in 0x80..0x9F; the five unassigned bytes keep their Latin-1
// control code points so no byte is lost.
const uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const uint8_t* p, size_t size) {
    size_t i = 0;
    while (i < size) {
        const uint8_t c = p[i];
        size_t extra;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (size - i <= extra) return false;
        for (size_t k = 1; k <= extra; ++k) {
            const uint8_t t = p[i + k];
            if ((t & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

std::string DecodeText(const uint8_t* data, size_t size) {
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
        return std::string(reinterpret_cast<const char*>(data) + 3, size - 3);
    if (IsValidUtf8(data, size)) return std::string(reinterpret_cast<const char*>(data), size);
    std::string out;
    out.reserve(size + size / 2);
    for (size_t i = 0; i < size; ++i) {
        const uint8_t c = data[i];
        AppendUtf8(out, c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c);
    }
    return out;
}

std::string Trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    return text.substr(begin, end - begin);
}

bool SameKey(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Index of the first group line, or the line count when there is none.
size_t TopEnd(const SettingsDocument& doc) {
    for (size_t i = 0; i < doc.lines.size(); ++i)
        if (doc.lines[i].kind == SettingsLine::Kind::Group) return i;
    return doc.lines.size();
}

void AppendText(std::vector<uint8_t>& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

}  // namespace

SettingsDocument ParseSettings(const uint8_t* data, size_t size) {
    SettingsDocument doc;
    const std::string text = DecodeText(data, size);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string raw = text.substr(start, end - start);
        start = end + 1;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        const std::string line = Trim(raw);
        if (line.empty()) continue;
        SettingsLine entry;
        if (line[0] == '[') {
            entry.kind = SettingsLine::Kind::Group;
            entry.key = line;
        } else if (line[0] == ';') {
            entry.kind = SettingsLine::Kind::Comment;
            entry.key = Trim(line.substr(1));
        } else {
            const size_t eq = line.find('=');
            if (eq == std::string::npos) {
                // Not ours to interpret; kept so that a rewrite loses nothing.
                entry.kind = SettingsLine::Kind::Other;
                entry.key = raw;
            } else {
                entry.key = Trim(line.substr(0, eq));
                entry.value = Trim(line.substr(eq + 1));
            }
        }
        doc.lines.push_back(std::move(entry));
    }
    return doc;
}

std::vector<uint8_t> SerializeSettings(const SettingsDocument& doc) {
    std::vector<uint8_t> out = {0xEF, 0xBB, 0xBF, '\r', '\n'};
    for (const SettingsLine& line : doc.lines) {
        switch (line.kind) {
        case SettingsLine::Kind::Key:
            AppendText(out, line.key + " = " + line.value);
            break;
        case SettingsLine::Kind::Comment:
            AppendText(out, "; " + line.key);
            break;
        case SettingsLine::Kind::Group:
            AppendText(out, "\r\n" + line.key);  // an empty line sets each group apart
            break;
        case SettingsLine::Kind::Other:
            AppendText(out, line.key);
            break;
        }
        AppendText(out, "\r\n");
    }
    return out;
}

bool FindSettingsValue(const SettingsDocument& doc, const std::string& key, std::string& value) {
    if (key.empty()) return false;
    const size_t end = TopEnd(doc);
    for (size_t i = 0; i < end; ++i) {
        const SettingsLine& line = doc.lines[i];
        if (line.kind == SettingsLine::Kind::Key && SameKey(line.key, key)) {
            value = line.value;
            return true;
        }
    }
    return false;
}

bool SetSettingsValue(SettingsDocument& doc, const std::string& key, const std::string& value) {
    // A line break in a value (a folder name may hold one) would otherwise
    // split it into lines of its own and plant foreign keys in the file.
    if (key.empty() || key.find_first_of("=\r\n") != std::string::npos ||
        value.find_first_of("\r\n") != std::string::npos)
        return false;
    const size_t end = TopEnd(doc);
    for (size_t i = 0; i < end; ++i) {
        SettingsLine& line = doc.lines[i];
        if (line.kind == SettingsLine::Kind::Key && SameKey(line.key, key)) {
            line.value = value;
            return true;
        }
    }
    SettingsLine entry;
    entry.key = key;
    entry.value = value;
    doc.lines.insert(doc.lines.begin() + std::ptrdiff_t(end), std::move(entry));
    return true;
}

bool ReadSettingsValue(const std::string& path, const std::string& key, std::string& value) {
    std::vector<uint8_t> data;
    if (!ReadWholeFile(path, data)) return false;
    return FindSettingsValue(ParseSettings(data.data(), data.size()), key, value);
}

bool WriteSettingsValue(const std::string& path, const std::string& key, const std::string& value) {
    std::vector<uint8_t> data;
    const FileKind kind = GetFileKind(path);
    if (kind == FileKind::Folder) return false;
    // A file that is there but cannot be read must not be replaced by one
    // holding a single key: everything else in it would be lost.
    if (kind == FileKind::File && !ReadWholeFile(path, data)) return false;
    SettingsDocument doc = ParseSettings(data.data(), data.size());
    if (!SetSettingsValue(doc, key, value)) return false;
    const std::vector<uint8_t> out = SerializeSettings(doc);
    return WriteWholeFile(path, out.data(), out.size());
}
