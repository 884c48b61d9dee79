// Message boxes and the file, folder and text requesters, with their scripted
// answers in test mode.
#include <gtk/gtk.h>
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

// The desktop theme's icon for each kind of box; boxes without a kind show none.
const char* ThemeIconName(UiIcon icon) {
    switch (icon) {
    case UiIcon::None: return nullptr;
    case UiIcon::Error: return "dialog-error";
    case UiIcon::Warning: return "dialog-warning";
    case UiIcon::Information: return "dialog-information";
    }
    return nullptr;
}

// GTK 3's message dialog draws no icon of its own, and wx builds that dialog
// only inside ShowModal. While one of these lives, the first message dialog
// shown gets the theme's icon beside its text, before it is laid out. The
// dialog stays GTK's own, so its texts, buttons, default button, keys and its
// "alert" role for screen readers are all kept.
class MessageIconAdder {
public:
    explicit MessageIconAdder(const char* iconName) : iconName_(iconName) {
        if (!iconName_) return;
        signal_ = g_signal_lookup("show", GTK_TYPE_WIDGET);
        hook_ = g_signal_add_emission_hook(signal_, 0, &MessageIconAdder::OnShow, this, nullptr);
    }
    ~MessageIconAdder() {
        if (hook_ != 0) g_signal_remove_emission_hook(signal_, hook_);
    }
    MessageIconAdder(const MessageIconAdder&) = delete;
    MessageIconAdder& operator=(const MessageIconAdder&) = delete;

private:
    static gboolean OnShow(GSignalInvocationHint*, guint count, const GValue* values, gpointer data) {
        auto* self = static_cast<MessageIconAdder*>(data);
        gpointer shown = count > 0 && G_VALUE_HOLDS_OBJECT(&values[0]) ? g_value_get_object(&values[0]) : nullptr;
        if (!GTK_IS_MESSAGE_DIALOG(shown)) return TRUE;  // not ours: keep waiting
        GtkWidget* image = gtk_image_new_from_icon_name(self->iconName_, GTK_ICON_SIZE_DIALOG);
        // Setting an image makes GTK call the dialog's kind "other"; the kind
        // is set back (the image stays), so the dialog still reports it.
        GtkMessageType kind = GTK_MESSAGE_OTHER;
        g_object_get(shown, "message-type", &kind, nullptr);
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(shown), image);
        G_GNUC_END_IGNORE_DEPRECATIONS
        g_object_set(shown, "message-type", kind, nullptr);
        gtk_widget_show(image);
        self->hook_ = 0;
        return FALSE;  // GLib removes the hook
    }

    const char* iconName_;
    guint signal_ = 0;
    gulong hook_ = 0;
};

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
        const MessageIconAdder iconAdder(ThemeIconName(icon));
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
