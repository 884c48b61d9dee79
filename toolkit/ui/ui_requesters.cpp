// Message boxes and the file, folder and text requesters, with their scripted
// answers in test mode.
#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>
#include <wx/textdlg.h>

#include <deque>

#include "toolkit/ui/ui_internal.h"

using namespace uiimpl;

namespace {

std::deque<UiAnswer> gAnswers;
std::vector<UiRequest> gRequests;

const char* KindName(UiRequestKind kind) {
    switch (kind) {
    case UiRequestKind::Message: return "message box";
    case UiRequestKind::OpenFile: return "open requester";
    case UiRequestKind::OpenFiles: return "multi-file open requester";
    case UiRequestKind::SaveFile: return "save requester";
    case UiRequestKind::Folder: return "folder requester";
    case UiRequestKind::Input: return "input requester";
    }
    return "requester";
}

// Records the request; in test mode gives the next scripted answer (nullopt
// after reporting a failure when there is none, or it was meant for another
// kind of requester).
std::optional<UiAnswer> Scripted(const UiRequest& request) {
    gRequests.push_back(request);
    if (gAnswers.empty()) {
        Fail(std::string(KindName(request.kind)) + " \"" + request.title + "\" had no scripted answer" +
             (request.text.empty() ? "" : " (text: " + request.text + ")"));
        return std::nullopt;
    }
    UiAnswer answer = gAnswers.front();
    gAnswers.pop_front();
    if (answer.expect && *answer.expect != request.kind) {
        Fail(std::string("a scripted answer for a ") + KindName(*answer.expect) + " reached a " +
             KindName(request.kind) + " \"" + request.title + "\"");
        return std::nullopt;
    }
    return answer;
}

wxWindow* ParentWidget(int parent) {
    Object* o = FindKind(parent, Kind::Window);
    return o ? o->widget : nullptr;
}

void SplitStartPath(const std::string& startPath, wxString& folder, wxString& file) {
    folder.clear();
    file.clear();
    if (startPath.empty()) return;
    const wxString path = ToWx(startPath);
    if (path.EndsWith("/") || path.EndsWith("\\") || wxFileName::DirExists(path)) {
        folder = path;
        return;
    }
    std::string normal = startPath;
    for (char& c : normal)
        if (c == '\\') c = '/';
    const size_t cut = normal.rfind('/');
    if (cut == std::string::npos) {
        file = path;
    } else {
        folder = ToWx(normal.substr(0, cut + 1));
        file = ToWx(normal.substr(cut + 1));
    }
}

UiRequest MakeRequest(UiRequestKind kind, const std::string& title, int parent) {
    UiRequest r;
    r.kind = kind;
    r.title = title;
    r.parent = parent;
    return r;
}

std::vector<std::string> RunFileDialog(UiRequest& r, bool multiple, bool save, int* chosen) {
    wxString folder, file;
    SplitStartPath(r.startPath, folder, file);
    long style = save ? wxFD_SAVE : (wxFD_OPEN | wxFD_FILE_MUST_EXIST | (multiple ? wxFD_MULTIPLE : 0));
    // GTK's save chooser puts the selected pattern's extension onto the
    // proposed name and pre-selects only the part before it, so a typed
    // "wall.dds" would come back as "wall.dds.tga". The name is therefore set
    // after the pattern, without an extension; the program adds the pattern's
    // extension itself when the chosen name has none.
    wxFileDialog dialog(ParentWidget(r.parent), ToWx(r.title), folder, save ? wxString() : file,
                        ToWx(r.patterns), style);
    dialog.SetFilterIndex(std::max(r.patternIndex, 0));
    if (save && !file.empty()) dialog.SetFilename(file);
    std::vector<std::string> paths;
    if (dialog.ShowModal() != wxID_OK) return paths;
    if (multiple) {
        wxArrayString all;
        dialog.GetPaths(all);
        for (const wxString& p : all) paths.push_back(FromWx(p));
    } else {
        paths.push_back(FromWx(dialog.GetPath()));
    }
    if (chosen) *chosen = dialog.GetFilterIndex();
    return paths;
}

std::vector<std::string> FileRequest(UiRequestKind kind, const std::string& title, const std::string& startPath,
                                     const std::string& patterns, int patternIndex, int parent, int* chosen) {
    UiRequest r = MakeRequest(kind, title, parent);
    r.startPath = startPath;
    r.patterns = patterns;
    r.patternIndex = patternIndex;
    if (chosen) *chosen = patternIndex;
    if (UiIsTestMode() || !UiIsInitialised()) {
        std::optional<UiAnswer> a = Scripted(r);
        if (!a) return {};
        if (chosen && a->patternIndex >= 0 && !a->paths.empty()) *chosen = a->patternIndex;
        return a->paths;
    }
    try {
        return RunFileDialog(r, kind == UiRequestKind::OpenFiles, kind == UiRequestKind::SaveFile, chosen);
    } catch (...) {
        return {};
    }
}

}  // namespace

void UiTestResetRequesters() {
    gAnswers.clear();
    gRequests.clear();
}

int UiMessageBox(const std::string& title, const std::string& text, UiButtons buttons, UiIcon icon, int parent) {
    UiRequest r = MakeRequest(UiRequestKind::Message, title, parent);
    r.text = text;
    r.buttons = buttons;
    r.icon = icon;
    if (UiIsTestMode() || !UiIsInitialised()) {
        std::optional<UiAnswer> a = Scripted(r);
        return a ? a->result : -1;
    }
    try {
        long style = buttons == UiButtons::Ok ? wxOK : buttons == UiButtons::YesNo ? wxYES_NO : wxYES_NO | wxCANCEL;
        switch (icon) {
        case UiIcon::None: style |= wxICON_NONE; break;
        case UiIcon::Error: style |= wxICON_ERROR; break;
        case UiIcon::Warning: style |= wxICON_WARNING; break;
        case UiIcon::Information: style |= wxICON_INFORMATION; break;
        }
        wxMessageDialog dialog(ParentWidget(parent), ToWx(text), ToWx(title), style);
        switch (dialog.ShowModal()) {
        case wxID_OK:
        case wxID_YES: return 1;
        case wxID_NO: return 0;
        default: return -1;
        }
    } catch (...) {
        return -1;
    }
}

std::string UiOpenFileRequester(const std::string& title, const std::string& startPath, const std::string& patterns,
                                int patternIndex, int parent) {
    std::vector<std::string> paths =
        FileRequest(UiRequestKind::OpenFile, title, startPath, patterns, patternIndex, parent, nullptr);
    return paths.empty() ? std::string() : paths.front();
}

std::vector<std::string> UiOpenFilesRequester(const std::string& title, const std::string& startPath,
                                              const std::string& patterns, int patternIndex, int parent) {
    return FileRequest(UiRequestKind::OpenFiles, title, startPath, patterns, patternIndex, parent, nullptr);
}

std::string UiSaveFileRequester(const std::string& title, const std::string& startPath, const std::string& patterns,
                                int patternIndex, int* chosenPattern, int parent) {
    std::vector<std::string> paths =
        FileRequest(UiRequestKind::SaveFile, title, startPath, patterns, patternIndex, parent, chosenPattern);
    return paths.empty() ? std::string() : paths.front();
}

std::string UiFolderRequester(const std::string& title, const std::string& startPath, int parent) {
    UiRequest r = MakeRequest(UiRequestKind::Folder, title, parent);
    r.startPath = startPath;
    std::string folder;
    if (UiIsTestMode() || !UiIsInitialised()) {
        std::optional<UiAnswer> a = Scripted(r);
        if (!a || a->paths.empty()) return {};
        folder = a->paths.front();
    } else {
        try {
            wxDirDialog dialog(ParentWidget(parent), ToWx(title), ToWx(startPath),
                               wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
            if (dialog.ShowModal() != wxID_OK) return {};
            folder = FromWx(dialog.GetPath());
        } catch (...) {
            return {};
        }
    }
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
    return folder;
}

std::optional<std::string> UiInputRequester(const std::string& title, const std::string& prompt,
                                            const std::string& defaultText, int parent) {
    UiRequest r = MakeRequest(UiRequestKind::Input, title, parent);
    r.text = prompt;
    r.startPath = defaultText;
    if (UiIsTestMode() || !UiIsInitialised()) {
        std::optional<UiAnswer> a = Scripted(r);
        return a ? a->text : std::nullopt;
    }
    try {
        wxTextEntryDialog dialog(ParentWidget(parent), ToWx(prompt), ToWx(title), ToWx(defaultText));
        if (dialog.ShowModal() != wxID_OK) return std::nullopt;
        return FromWx(dialog.GetValue());
    } catch (...) {
        return std::nullopt;
    }
}

void UiTestScriptAnswer(const UiAnswer& answer) { gAnswers.push_back(answer); }

void UiTestScriptMessageAnswer(int result) {
    UiAnswer a;
    a.expect = UiRequestKind::Message;
    a.result = result;
    gAnswers.push_back(a);
}

void UiTestScriptPath(const std::string& path, int patternIndex) {
    UiAnswer a;
    if (!path.empty()) a.paths.push_back(path);
    a.patternIndex = patternIndex;
    gAnswers.push_back(a);
}

size_t UiTestPendingAnswers() { return gAnswers.size(); }
const std::vector<UiRequest>& UiTestRequests() { return gRequests; }
void UiTestClearRequests() { gRequests.clear(); }
