// Face-name recognizers and the search for a face file by name.
#include <cctype>

#include "formats/gro.h"
#include "formats/tex.h"
#include "skybox/skybox.h"
#include "toolkit/files.h"

namespace {

constexpr const char* kFaceLetters = "NESWCDU";
constexpr const char* kFaceWordGroups =
    "front|forward|north|ft,right|east|rt,back|south|bk,left|west|lf,up|top|ceiling,down|bottom|floor|dn";
constexpr const char* kSeparatedWords = ",ft,rt,bk,lf,dn,";
constexpr const char* kAxisNames4 = ",posz,posx,negz,negx,posy,negy,";
constexpr const char* kAxisNames2 = ",pz,px,nz,nx,py,ny,";

bool InCommaList(const std::string& list, const std::string& candidate) {
    return list.find("," + candidate + ",") != std::string::npos;
}

std::vector<std::string> SplitText(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

size_t FindSkyExtensionDot(const std::string& fileName) {
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == fileName.size()) return std::string::npos;
    if (fileName.find(' ', dot + 1) != std::string::npos) return std::string::npos;
    return dot;
}

std::string GetSkyBaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = FindSkyExtensionDot(name);
    if (dot != std::string::npos) name.resize(dot);
    return name;
}

int64_t FindFaceLetterSuffix(const std::string& name) {
    const std::string b = GetSkyBaseName(name);
    const int64_t length = int64_t(b.size());
    // p is 1-based as the marker rule is written: b[p] is the "_" at index p - 1.
    for (int64_t p = length - 1; p >= 1; --p) {
        if (b[size_t(p - 1)] != '_') continue;
        const char letter = char(std::toupper(static_cast<unsigned char>(b[size_t(p)])));
        if (std::string(kFaceLetters).find(letter) == std::string::npos) continue;
        if (p + 1 < length && b[size_t(p + 1)] != '-') continue;
        return p + 1;
    }
    return 0;
}

int64_t MatchFaceWordSuffix(const std::string& name) {
    const std::string b = ToLowerAscii(GetSkyBaseName(name));
    for (const std::string& group : SplitText(kFaceWordGroups, ',')) {
        for (const std::string& word : SplitText(group, '|')) {
            if (b.size() <= word.size() || !EndsWith(b, word)) continue;
            if (InCommaList(kSeparatedWords, word)) {
                const char before = b[b.size() - word.size() - 1];
                if (before != '_' && before != '-') continue;
            }
            return int64_t(word.size());
        }
    }
    return 0;
}

int64_t MatchAxisFaceSuffix(const std::string& name) {
    const std::string b = ToLowerAscii(GetSkyBaseName(name));
    if (b.size() >= 4 && InCommaList(kAxisNames4, b.substr(b.size() - 4))) return 4;
    if (b.size() >= 2 && InCommaList(kAxisNames2, b.substr(b.size() - 2))) return 2;
    return 0;
}

int64_t CountTrailingDigits(const std::string& name) {
    const std::string b = GetSkyBaseName(name);
    int64_t count = 0;
    while (count < int64_t(b.size()) && IsDigit(b[b.size() - 1 - size_t(count)]))
        ++count;
    return count;
}

bool IsSkyboxFaceName(const std::string& name) {
    return FindFaceLetterSuffix(name) > 0 || MatchFaceWordSuffix(name) > 0 || MatchAxisFaceSuffix(name) > 0 ||
           CountTrailingDigits(name) > 0;
}

std::string FindFaceFile(const std::string& archivePath, const std::string& folder, const std::string& fileName) {
    if (archivePath.empty()) return FindFileIgnoringCase(folder, fileName);
    const std::string wanted = ToLowerAscii(folder + fileName);
    for (const GroEntry& entry : gGroEntries)
        if (ToLowerAscii(entry.name) == wanted) return archivePath + "::" + entry.name;
    return {};
}
