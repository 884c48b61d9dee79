// Gadgets and canvases of the UI layer.
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/dcclient.h>
#include <wx/dnd.h>
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/notebook.h>
#include <wx/rawbmp.h>
#include <wx/scrolwin.h>
#include <wx/spinctrl.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>

#include <sstream>

#include "toolkit/memory.h"
#include "toolkit/ui/ui_internal.h"

using namespace uiimpl;

namespace {

std::vector<std::string> gDroppedFiles;

void PostGadget(int number, UiEventType type, int item = -1, int x = 0, int y = 0) {
    if (gQuiet > 0) return;
    Object* o = Find(number);
    if (!o) return;
    UiEvent e;
    e.kind = UiEventKind::Gadget;
    e.window = o->window;
    e.gadget = number;
    e.type = type;
    e.item = item;
    e.x = x;
    e.y = y;
    PostReal(e);
}

// Written straight into the bitmap's own pixels: a paint costs one pass over
// what is shown. Without room for it (the toolkit keeps four bytes a pixel)
// the bitmap is not made and the result is not Ok(): the toolkit's own
// allocation would not fail, the kernel would end the program.
wxBitmap ToBitmap(const Image& image) {
    const uint64_t bytes = uint64_t(image.width) * uint64_t(image.height) * 4;
    if (bytes >= kPictureMemoryCheckedFrom && !HasRoomFor(bytes)) return wxNullBitmap;
    wxBitmap bitmap(image.width, image.height, 24);
    wxNativePixelData data(bitmap);
    if (!data) {
        wxImage out(image.width, image.height, false);
        unsigned char* rgb = out.GetData();
        for (int y = 0; y < image.height; ++y) {
            const uint8_t* s = image.RowFromTop(y);
            for (int x = 0; x < image.width; ++x, s += image.BytesPerPixel(), rgb += 3) {
                rgb[0] = s[2];
                rgb[1] = s[1];
                rgb[2] = s[0];
            }
        }
        return wxBitmap(out);
    }
    const int bpp = image.BytesPerPixel();
    wxNativePixelData::Iterator row(data);
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* s = image.RowFromTop(y);
        wxNativePixelData::Iterator p = row;
        for (int x = 0; x < image.width; ++x, s += bpp, ++p) {
            p.Red() = s[2];
            p.Green() = s[1];
            p.Blue() = s[0];
        }
        row.OffsetY(data, 1);
    }
    return bitmap;
}

UiRect VisibleRect(Object& canvas) {
    wxWindow* w = canvas.widget;
    if (!w->IsShownOnScreen()) return {};
    const wxPoint pos = w->GetPosition();
    wxRect visible(pos, w->GetSize());
    visible.Intersect(wxRect(w->GetParent()->GetClientSize()));
    if (visible.IsEmpty()) return {};
    return UiRect{visible.x - pos.x, visible.y - pos.y, visible.width, visible.height};
}

void PaintRect(wxDC& dc, Object& canvas, const wxRect& box) {
    if (box.IsEmpty()) return;
    ImagePtr part = CreateImage(box.width, box.height, 32, kOpaqueBlack);
    if (!part) return;
    RenderCanvasRect(canvas, *part, box.x, box.y);
    const wxBitmap bitmap = ToBitmap(*part);
    if (bitmap.IsOk()) dc.DrawBitmap(bitmap, box.x, box.y);
}

class CanvasWidget : public wxWindow {
public:
    CanvasWidget(wxWindow* parent, int number, wxPoint pos, wxSize size)
        : wxWindow(parent, wxID_ANY, pos, size, wxBORDER_NONE), number_(number) {
        SetBackgroundStyle(wxBG_STYLE_PAINT);
        Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
            wxPaintDC dc(this);
            Object* o = Find(number_);
            if (!o) return;
            wxRect box = GetUpdateRegion().GetBox();
            const UiRect v = VisibleRect(*o);
            box.Intersect(wxRect(v.x, v.y, v.width, v.height));
            PaintRect(dc, *o, box);
        });
        Bind(wxEVT_LEFT_DOWN, [this](wxMouseEvent& e) { Mouse(e, UiEventType::LeftDown); });
        Bind(wxEVT_LEFT_UP, [this](wxMouseEvent& e) { Mouse(e, UiEventType::LeftUp); });
        Bind(wxEVT_RIGHT_DOWN, [this](wxMouseEvent& e) { Mouse(e, UiEventType::RightDown); });
        Bind(wxEVT_MOTION, [this](wxMouseEvent& e) { Mouse(e, UiEventType::MouseMove); });
    }

private:
    void Mouse(wxMouseEvent& e, UiEventType type) {
        e.Skip();
        PostGadget(number_, type, -1, e.GetX(), e.GetY());
    }
    int number_;
};

class FileDrop : public wxFileDropTarget {
public:
    explicit FileDrop(int number) : number_(number) {}
    bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& files) override {
        gDroppedFiles.clear();
        for (const wxString& f : files) gDroppedFiles.push_back(FromWx(f));
        PostGadget(number_, UiEventType::FilesDropped);
        return true;
    }

private:
    int number_;
};

// Registers a gadget created in the parent's container.
int Register(int number, Kind kind, int parent, wxWindow* widget) {
    Object& o = gObjects[number];
    o.kind = kind;
    o.widget = widget;
    o.parent = parent;
    Object* p = Find(parent);
    o.window = p ? p->window : 0;
    return number;
}

template <typename Make>
int MakeGadget(Kind kind, int parent, Make make) {
    wxWindow* container = ContainerOf(parent);
    if (!container) return 0;
    try {
        Quiet quiet;
        const int number = NewNumber();
        wxWindow* widget = make(container, number);
        if (!widget) return 0;
        return Register(number, kind, parent, widget);
    } catch (...) {
        return 0;
    }
}

wxSize Size(int w, int h) { return wxSize(ToPixels(w), ToPixels(h)); }

std::vector<std::string> SplitColumns(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, '\n')) parts.push_back(part);
    if (parts.empty()) parts.emplace_back();
    return parts;
}

wxColour ToColour(uint32_t c) { return wxColour(ColourRed(c), ColourGreen(c), ColourBlue(c)); }

// Layouts give check boxes and option buttons the width their text needs in
// a compact font; where this system's font runs wider, the text would be cut
// off, so the gadget grows to its text, as far as its window has room.
void WidenToFitText(wxWindow* widget) {
    const wxSize best = widget->GetBestSize();
    const wxSize now = widget->GetSize();
    if (best.x <= now.x) return;
    const wxWindow* parent = widget->GetParent();
    const int room = parent ? parent->GetClientSize().x - widget->GetPosition().x : best.x;
    widget->SetSize(std::max(now.x, std::min(best.x, room)), now.y);
}

}  // namespace

namespace uiimpl {

wxWindow* CreateCanvasWidget(wxWindow* parent, int number, wxPoint pos, wxSize size) {
    return new CanvasWidget(parent, number, pos, size);
}

void RenderCanvasRect(Object& canvas, Image& target, int left, int top) {
    if (canvas.painter) {
        canvas.painter(target, left, top);
    } else if (canvas.buffer) {
        DrawImage(target, *canvas.buffer, -left, -top, DrawMode::Copy);
    }
}

}  // namespace uiimpl

int UiCreateButton(int parent, int x, int y, int w, int h, const std::string& text, bool isDefault) {
    return MakeGadget(Kind::Button, parent, [&](wxWindow* c, int number) {
        auto* b = new wxButton(c, wxID_ANY, ToWx(text), ChildPosition(parent, x, y), Size(w, h));
        b->Bind(wxEVT_BUTTON, [number](wxCommandEvent&) { PostGadget(number, UiEventType::Click); });
        if (isDefault) b->SetDefault();
        return b;
    });
}

int UiCreateCheckBox(int parent, int x, int y, int w, int h, const std::string& text) {
    return MakeGadget(Kind::Check, parent, [&](wxWindow* c, int number) {
        auto* b = new wxCheckBox(c, wxID_ANY, ToWx(text), ChildPosition(parent, x, y), Size(w, h));
        b->Bind(wxEVT_CHECKBOX, [number](wxCommandEvent&) { PostGadget(number, UiEventType::Click); });
        WidenToFitText(b);
        return b;
    });
}

int UiCreateOption(int parent, int x, int y, int w, int h, const std::string& text, bool firstOfGroup) {
    return MakeGadget(Kind::Option, parent, [&](wxWindow* c, int number) {
        auto* b = new wxRadioButton(c, wxID_ANY, ToWx(text), ChildPosition(parent, x, y), Size(w, h),
                                    firstOfGroup ? wxRB_GROUP : 0);
        b->Bind(wxEVT_RADIOBUTTON, [number](wxCommandEvent&) { PostGadget(number, UiEventType::Click); });
        WidenToFitText(b);
        return b;
    });
}

int UiCreateFrame(int parent, int x, int y, int w, int h, const std::string& text) {
    return MakeGadget(Kind::Frame, parent, [&](wxWindow* c, int) {
        return new wxStaticBox(c, wxID_ANY, ToWx(text), ChildPosition(parent, x, y), Size(w, h));
    });
}

int UiCreateTabPanel(int parent, int x, int y, int w, int h) {
    return MakeGadget(Kind::TabPanel, parent, [&](wxWindow* c, int number) {
        auto* n = new wxNotebook(c, wxID_ANY, ChildPosition(parent, x, y), Size(w, h));
        n->Bind(wxEVT_NOTEBOOK_PAGE_CHANGED, [number](wxBookCtrlEvent&) { PostGadget(number, UiEventType::Change); });
        return n;
    });
}

int UiAddTabPage(int tabPanel, const std::string& text) {
    Object* t = FindKind(tabPanel, Kind::TabPanel);
    if (!t) return 0;
    Quiet quiet;
    auto* book = static_cast<wxNotebook*>(t->widget);
    auto* page = new wxPanel(book, wxID_ANY);
    book->AddPage(page, ToWx(text));
    return Register(NewNumber(), Kind::TabPage, tabPanel, page);
}

int UiCreateCombo(int parent, int x, int y, int w, int h, bool editable) {
    const int number = MakeGadget(Kind::Combo, parent, [&](wxWindow* c, int number) -> wxWindow* {
        if (editable) {
            auto* b = new wxComboBox(c, wxID_ANY, wxEmptyString, ChildPosition(parent, x, y), Size(w, h));
            b->Bind(wxEVT_COMBOBOX, [number](wxCommandEvent&) { PostGadget(number, UiEventType::Change); });
            b->Bind(wxEVT_TEXT, [number](wxCommandEvent&) { PostGadget(number, UiEventType::Change); });
            return b;
        }
        auto* b = new wxChoice(c, wxID_ANY, ChildPosition(parent, x, y), Size(w, h));
        b->Bind(wxEVT_CHOICE, [number](wxCommandEvent&) { PostGadget(number, UiEventType::Change); });
        return b;
    });
    if (Object* o = Find(number)) o->editable = editable;
    return number;
}

int UiCreateSpin(int parent, int x, int y, int w, int h, int minimum, int maximum) {
    return MakeGadget(Kind::Spin, parent, [&](wxWindow* c, int number) {
        auto* s = new wxSpinCtrl(c, wxID_ANY, wxEmptyString, ChildPosition(parent, x, y), Size(w, h),
                                 wxSP_ARROW_KEYS, minimum, maximum, minimum);
        s->Bind(wxEVT_SPINCTRL, [number](wxSpinEvent&) { PostGadget(number, UiEventType::Change); });
        s->Bind(wxEVT_TEXT, [number](wxCommandEvent&) { PostGadget(number, UiEventType::Change); });
        return s;
    });
}

int UiCreateTextField(int parent, int x, int y, int w, int h, const std::string& text, unsigned flags) {
    return MakeGadget(Kind::Text, parent, [&](wxWindow* c, int number) {
        long style = 0;
        if (flags & kUiReadOnly) style |= wxTE_READONLY;
        auto* t = new wxTextCtrl(c, wxID_ANY, ToWx(text), ChildPosition(parent, x, y), Size(w, h), style);
        t->Bind(wxEVT_TEXT, [number](wxCommandEvent&) { PostGadget(number, UiEventType::Change); });
        t->Bind(wxEVT_KILL_FOCUS, [number](wxFocusEvent& e) {
            PostGadget(number, UiEventType::LostFocus);
            e.Skip();  // the control still needs it to end its own editing
        });
        return t;
    });
}

int UiCreateLabel(int parent, int x, int y, int w, int h, const std::string& text, unsigned flags) {
    return MakeGadget(Kind::Label, parent, [&](wxWindow* c, int) {
        long style = wxST_NO_AUTORESIZE;
        if (flags & kUiSunken) style |= wxBORDER_SUNKEN;
        if (flags & kUiAlignRight) style |= wxALIGN_RIGHT;
        if (flags & kUiAlignCentre) style |= wxALIGN_CENTRE_HORIZONTAL;
        return new wxStaticText(c, wxID_ANY, ToWx(text), ChildPosition(parent, x, y), Size(w, h), style);
    });
}

int UiCreateListView(int parent, int x, int y, int w, int h, unsigned flags) {
    return MakeGadget(Kind::ListView, parent, [&](wxWindow* c, int number) {
        // wx report views always select whole rows.
        long style = wxLC_REPORT | wxBORDER_SUNKEN;
        if (!(flags & kUiMultiSelect)) style |= wxLC_SINGLE_SEL;
        if (flags & kUiGridLines) style |= wxLC_HRULES | wxLC_VRULES;
        auto* l = new wxListCtrl(c, wxID_ANY, ChildPosition(parent, x, y), Size(w, h), style);
        l->Bind(wxEVT_LIST_ITEM_SELECTED,
                [number](wxListEvent& e) { PostGadget(number, UiEventType::Select, int(e.GetIndex())); });
        l->Bind(wxEVT_LIST_ITEM_DESELECTED,
                [number](wxListEvent& e) { PostGadget(number, UiEventType::Select, int(e.GetIndex())); });
        l->Bind(wxEVT_LIST_ITEM_ACTIVATED,
                [number](wxListEvent& e) { PostGadget(number, UiEventType::DoubleClick, int(e.GetIndex())); });
        return l;
    });
}

void UiAddListColumn(int listView, const std::string& title, int width) {
    Object* o = FindKind(listView, Kind::ListView);
    if (!o) return;
    static_cast<wxListCtrl*>(o->widget)->AppendColumn(ToWx(title), wxLIST_FORMAT_LEFT, ToPixels(width));
    ++o->columns;
}

int UiCreateProgressBar(int parent, int x, int y, int w, int h, int maximum) {
    return MakeGadget(Kind::Progress, parent, [&](wxWindow* c, int) {
        return new wxGauge(c, wxID_ANY, std::max(maximum, 1), ChildPosition(parent, x, y), Size(w, h));
    });
}

int UiCreateImageGadget(int parent, int x, int y, int w, int h, const Image* image) {
    const int number = MakeGadget(Kind::ImageGadget, parent, [&](wxWindow* c, int) {
        return new wxStaticBitmap(c, wxID_ANY, wxNullBitmap, ChildPosition(parent, x, y), Size(w, h));
    });
    if (number) UiSetGadgetImage(number, image);
    return number;
}

void UiSetGadgetImage(int gadget, const Image* image) {
    Object* o = FindKind(gadget, Kind::ImageGadget);
    if (!o) return;
    static_cast<wxStaticBitmap*>(o->widget)->SetBitmap(image ? ToBitmap(*image) : wxNullBitmap);
}

int UiCreateScrollArea(int parent, int x, int y, int w, int h, int innerWidth, int innerHeight, int step,
                       bool sunkenBorder) {
    const int number = MakeGadget(Kind::Scroll, parent, [&](wxWindow* c, int) {
        auto* s = new wxScrolledWindow(c, wxID_ANY, ChildPosition(parent, x, y), Size(w, h),
                                       wxHSCROLL | wxVSCROLL | (sunkenBorder ? wxBORDER_SUNKEN : wxBORDER_NONE));
        s->SetScrollRate(std::max(1, ToPixels(step)), std::max(1, ToPixels(step)));
        // GTK moves three scroll steps per wheel notch; with a step of one
        // pixel a big picture would take hundreds of notches to cross, so a
        // notch moves three lines of kWheelLineUnits instead.
        s->Bind(wxEVT_MOUSEWHEEL, [s](wxMouseEvent& e) {
            constexpr int kWheelLineUnits = 16;
            const int perNotch = e.GetWheelDelta() > 0 ? e.GetWheelDelta() : 120;
            const int pixels =
                e.GetWheelRotation() * std::max(e.GetLinesPerAction(), 1) * ToPixels(kWheelLineUnits) / perNotch;
            if (pixels == 0) return;
            int ux = 1, uy = 1;
            s->GetScrollPixelsPerUnit(&ux, &uy);
            const wxPoint at = s->CalcUnscrolledPosition(wxPoint(0, 0));
            if (e.GetWheelAxis() == wxMOUSE_WHEEL_HORIZONTAL)
                s->Scroll(std::max(at.x + pixels, 0) / std::max(ux, 1), -1);
            else
                s->Scroll(-1, std::max(at.y - pixels, 0) / std::max(uy, 1));
        });
        return s;
    });
    UiSetScrollInnerSize(number, innerWidth, innerHeight);
    return number;
}

void UiSetScrollInnerSize(int scrollArea, int innerWidth, int innerHeight) {
    Object* o = FindKind(scrollArea, Kind::Scroll);
    if (!o) return;
    o->innerWidth = innerWidth;
    o->innerHeight = innerHeight;
    Quiet quiet;
    auto* s = static_cast<wxScrolledWindow*>(o->widget);
    const wxSize inner(ToPixels(innerWidth), ToPixels(innerHeight));
    // An area shrunk below its scroll position pulls the position back, but
    // on a side that stops scrolling without moving the children with it:
    // they would stay above or left of its top, out of sight. So it scrolls
    // back into the new range first. When the inner area fits without scroll
    // bars neither side scrolls; otherwise the client size stays the bound.
    const wxSize bare = s->GetSize() - s->GetWindowBorderSize();
    const wxSize view = inner.x <= bare.x && inner.y <= bare.y ? bare : s->GetClientSize();
    const wxPoint at = s->CalcUnscrolledPosition(wxPoint(0, 0));
    const int x = std::min(at.x, std::max(inner.x - view.x, 0)), y = std::min(at.y, std::max(inner.y - view.y, 0));
    if (x != at.x || y != at.y) {
        int ux = 1, uy = 1;
        s->GetScrollPixelsPerUnit(&ux, &uy);
        s->Scroll(x / std::max(ux, 1), y / std::max(uy, 1));
    }
    s->SetVirtualSize(inner);
}

void UiGetScrollInnerSize(int scrollArea, int* innerWidth, int* innerHeight) {
    Object* o = FindKind(scrollArea, Kind::Scroll);
    if (innerWidth) *innerWidth = o ? o->innerWidth : 0;
    if (innerHeight) *innerHeight = o ? o->innerHeight : 0;
}

void UiSetScrollPosition(int scrollArea, int x, int y) {
    Object* o = FindKind(scrollArea, Kind::Scroll);
    if (!o) return;
    auto* s = static_cast<wxScrolledWindow*>(o->widget);
    int ux = 1, uy = 1;
    s->GetScrollPixelsPerUnit(&ux, &uy);
    s->Scroll(ToPixels(x) / std::max(ux, 1), ToPixels(y) / std::max(uy, 1));
}

void UiGetScrollPosition(int scrollArea, int* x, int* y) {
    Object* o = FindKind(scrollArea, Kind::Scroll);
    wxPoint p(0, 0);
    if (o) p = static_cast<wxScrolledWindow*>(o->widget)->CalcUnscrolledPosition(wxPoint(0, 0));
    if (x) *x = ToUnits(p.x);
    if (y) *y = ToUnits(p.y);
}

int UiCreateCanvas(int parent, int x, int y, int w, int h) {
    const int number = MakeGadget(Kind::Canvas, parent, [&](wxWindow* c, int number) {
        return CreateCanvasWidget(c, number, ChildPosition(parent, x, y), Size(w, h));
    });
    if (Object* o = Find(number)) {
        o->pixelWidth = ToPixels(w);
        o->pixelHeight = ToPixels(h);
        o->buffer = CreateImage(std::max(o->pixelWidth, 1), std::max(o->pixelHeight, 1), 32, kOpaqueBlack);
    }
    return number;
}

bool UiIsGadget(int gadget) {
    Object* o = Find(gadget);
    return o && o->kind != Kind::Window;
}

void UiFreeGadget(int gadget) {
    Object* o = Find(gadget);
    if (!o || o->kind == Kind::Window) return;
    // Children of a container go with it.
    std::vector<int> children;
    for (const auto& [number, object] : gObjects)
        if (object.parent == gadget && object.kind != Kind::Window) children.push_back(number);
    for (int child : children) UiFreeGadget(child);
    o = Find(gadget);
    if (o->kind == Kind::TabPage) {
        auto* book = static_cast<wxNotebook*>(o->widget->GetParent());
        const int page = book->FindPage(o->widget);
        if (page != wxNOT_FOUND) book->DeletePage(page);
    } else {
        o->widget->Destroy();
    }
    UiUnbindGadget(gadget);
    gObjects.erase(gadget);
}

int UiGetGadgetWindow(int gadget) {
    Object* o = Find(gadget);
    return o ? o->window : 0;
}

void UiResizeGadget(int gadget, int x, int y, int w, int h) {
    Object* o = Find(gadget);
    if (!o || o->kind == Kind::Window || o->kind == Kind::TabPage) return;
    Quiet quiet;
    const UiRect now = UiGetGadgetRect(gadget);
    const int nx = x < 0 ? now.x : x, ny = y < 0 ? now.y : y;
    const int nw = w < 0 ? now.width : w, nh = h < 0 ? now.height : h;
    const wxPoint pos = ChildPosition(o->parent, nx, ny);
    o->widget->SetSize(pos.x, pos.y, ToPixels(nw), ToPixels(nh));
    if (o->kind == Kind::Canvas) {
        const int pw = ToPixels(nw), ph = ToPixels(nh);
        if (pw != o->pixelWidth || ph != o->pixelHeight) {
            o->pixelWidth = pw;
            o->pixelHeight = ph;
            // A painted canvas draws only what is visible and keeps no buffer.
            o->buffer = o->painter ? nullptr : CreateImage(std::max(pw, 1), std::max(ph, 1), 32, kOpaqueBlack);
        }
        o->widget->Refresh(false);
    }
}

UiRect UiGetGadgetRect(int gadget) {
    Object* o = Find(gadget);
    if (!o || o->kind == Kind::Window) return {};
    wxPoint pos = o->widget->GetPosition();
    Object* p = Find(o->parent);
    if (p && p->kind == Kind::Scroll) pos = static_cast<wxScrolledWindow*>(p->widget)->CalcUnscrolledPosition(pos);
    const wxSize size = o->widget->GetSize();
    return UiRect{ToUnits(pos.x), ToUnits(pos.y), ToUnits(size.x), ToUnits(size.y)};
}

void UiEnableGadget(int gadget, bool enable) {
    if (Object* o = Find(gadget); o && o->kind != Kind::Window) o->widget->Enable(enable);
}

bool UiIsGadgetEnabled(int gadget) {
    Object* o = Find(gadget);
    return o && o->kind != Kind::Window && o->widget->IsThisEnabled();
}

void UiHideGadget(int gadget, bool hide) {
    if (Object* o = Find(gadget); o && o->kind != Kind::Window) o->widget->Show(!hide);
}

void UiFocusGadget(int gadget) {
    if (Object* o = Find(gadget); o && o->kind != Kind::Window) o->widget->SetFocus();
}

void UiSetGadgetText(int gadget, const std::string& text) {
    Object* o = Find(gadget);
    if (!o || o->kind == Kind::Window) return;
    Quiet quiet;
    switch (o->kind) {
    case Kind::Text: static_cast<wxTextCtrl*>(o->widget)->ChangeValue(ToWx(text)); break;
    case Kind::Combo:
        if (o->editable) static_cast<wxComboBox*>(o->widget)->ChangeValue(ToWx(text));
        else static_cast<wxChoice*>(o->widget)->SetStringSelection(ToWx(text));
        break;
    case Kind::Spin: {
        long value = 0;
        if (ToWx(text).ToLong(&value)) static_cast<wxSpinCtrl*>(o->widget)->SetValue(int(value));
        break;
    }
    case Kind::TabPage: {
        auto* book = static_cast<wxNotebook*>(o->widget->GetParent());
        const int page = book->FindPage(o->widget);
        if (page != wxNOT_FOUND) book->SetPageText(page, ToWx(text));
        break;
    }
    default: o->widget->SetLabel(ToWx(text)); break;
    }
}

std::string UiGetGadgetText(int gadget) {
    Object* o = Find(gadget);
    if (!o || o->kind == Kind::Window) return {};
    switch (o->kind) {
    case Kind::Text: return FromWx(static_cast<wxTextCtrl*>(o->widget)->GetValue());
    case Kind::Combo:
        if (o->editable) return FromWx(static_cast<wxComboBox*>(o->widget)->GetValue());
        return FromWx(static_cast<wxChoice*>(o->widget)->GetStringSelection());
    case Kind::Spin: return std::to_string(static_cast<wxSpinCtrl*>(o->widget)->GetValue());
    default: return FromWx(o->widget->GetLabel());
    }
}

void UiSetGadgetState(int gadget, int state) {
    Object* o = Find(gadget);
    if (!o) return;
    Quiet quiet;
    switch (o->kind) {
    case Kind::Check: static_cast<wxCheckBox*>(o->widget)->SetValue(state != 0); break;
    case Kind::Option: static_cast<wxRadioButton*>(o->widget)->SetValue(state != 0); break;
    case Kind::Combo:
        if (state < -1 || state >= int(o->itemData.size())) break;
        if (o->editable) static_cast<wxComboBox*>(o->widget)->SetSelection(state);
        else static_cast<wxChoice*>(o->widget)->SetSelection(state);
        break;
    case Kind::Spin: static_cast<wxSpinCtrl*>(o->widget)->SetValue(state); break;
    case Kind::Progress: {
        auto* g = static_cast<wxGauge*>(o->widget);
        g->SetValue(std::clamp(state, 0, g->GetRange()));
        break;
    }
    case Kind::TabPanel: {
        auto* book = static_cast<wxNotebook*>(o->widget);
        if (state >= 0 && state < int(book->GetPageCount())) book->ChangeSelection(state);
        break;
    }
    case Kind::ListView: {
        auto* l = static_cast<wxListCtrl*>(o->widget);
        for (long i = 0; i < l->GetItemCount(); ++i)
            l->SetItemState(i, i == state ? wxLIST_STATE_SELECTED : 0, wxLIST_STATE_SELECTED);
        break;
    }
    default: break;
    }
}

int UiGetGadgetState(int gadget) {
    Object* o = Find(gadget);
    if (!o) return 0;
    switch (o->kind) {
    case Kind::Check: return static_cast<wxCheckBox*>(o->widget)->GetValue() ? 1 : 0;
    case Kind::Option: return static_cast<wxRadioButton*>(o->widget)->GetValue() ? 1 : 0;
    case Kind::Combo:
        if (o->editable) return static_cast<wxComboBox*>(o->widget)->GetSelection();
        return static_cast<wxChoice*>(o->widget)->GetSelection();
    case Kind::Spin: return static_cast<wxSpinCtrl*>(o->widget)->GetValue();
    case Kind::Progress: return static_cast<wxGauge*>(o->widget)->GetValue();
    case Kind::TabPanel: return static_cast<wxNotebook*>(o->widget)->GetSelection();
    case Kind::ListView:
        return int(static_cast<wxListCtrl*>(o->widget)->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED));
    default: return 0;
    }
}

void UiSetGadgetColours(int gadget, uint32_t textColour, uint32_t backColour) {
    Object* o = Find(gadget);
    if (!o || o->kind == Kind::Window) return;
    o->widget->SetForegroundColour(ToColour(textColour));
    o->widget->SetBackgroundColour(ToColour(backColour));
    o->widget->Refresh();
}

void UiSetGadgetTextColour(int gadget, uint32_t textColour) {
    Object* o = Find(gadget);
    if (!o || o->kind == Kind::Window) return;
    o->widget->SetForegroundColour(ToColour(textColour));
    o->widget->Refresh();
}

bool UiSetGadgetFont(int gadget, const std::string& face, int points, bool bold) {
    Object* o = Find(gadget);
    if (!o || o->kind == Kind::Window) return false;
    wxFont font(wxFontInfo(points).FaceName(ToWx(face)).Bold(bold));
    if (!font.IsOk()) return false;
    o->widget->SetFont(font);
    return true;
}

// ---------------------------------------------------------------------------
// Items

namespace {

wxItemContainer* Items(Object* o) {
    if (!o || o->kind != Kind::Combo) return nullptr;
    if (o->editable) return static_cast<wxComboBox*>(o->widget);
    return static_cast<wxChoice*>(o->widget);
}

wxListCtrl* List(Object* o) {
    return o && o->kind == Kind::ListView ? static_cast<wxListCtrl*>(o->widget) : nullptr;
}

}  // namespace

int UiAddItem(int gadget, const std::string& text, int index) {
    Object* o = Find(gadget);
    Quiet quiet;
    if (wxItemContainer* items = Items(o)) {
        const int count = int(items->GetCount());
        if (index < 0 || index > count) index = count;
        items->Insert(ToWx(text), unsigned(index));
        o->itemData.insert(o->itemData.begin() + index, 0);
        return index;
    }
    if (wxListCtrl* list = List(o)) {
        const int count = list->GetItemCount();
        if (index < 0 || index > count) index = count;
        const std::vector<std::string> columns = SplitColumns(text);
        const long row = list->InsertItem(index, ToWx(columns[0]));
        for (size_t c = 1; c < columns.size() && int(c) < o->columns; ++c)
            list->SetItem(row, int(c), ToWx(columns[c]));
        o->itemData.insert(o->itemData.begin() + row, 0);
        return int(row);
    }
    return -1;
}

void UiRemoveItem(int gadget, int index) {
    Object* o = Find(gadget);
    Quiet quiet;
    if (index < 0 || !o || index >= int(o->itemData.size())) return;
    if (wxItemContainer* items = Items(o)) items->Delete(unsigned(index));
    else if (wxListCtrl* list = List(o)) list->DeleteItem(index);
    else return;
    o->itemData.erase(o->itemData.begin() + index);
}

void UiClearItems(int gadget) {
    Object* o = Find(gadget);
    Quiet quiet;
    if (wxItemContainer* items = Items(o)) items->Clear();
    else if (wxListCtrl* list = List(o)) list->DeleteAllItems();
    else return;
    o->itemData.clear();
}

int UiCountItems(int gadget) {
    Object* o = Find(gadget);
    return (Items(o) || List(o)) ? int(o->itemData.size()) : 0;
}

std::string UiGetItemText(int gadget, int index, int column) {
    Object* o = Find(gadget);
    if (!o || index < 0 || index >= int(o->itemData.size())) return {};
    if (wxItemContainer* items = Items(o)) return FromWx(items->GetString(unsigned(index)));
    if (wxListCtrl* list = List(o)) return column < o->columns ? FromWx(list->GetItemText(index, column)) : "";
    return {};
}

void UiSetItemText(int gadget, int index, const std::string& text, int column) {
    Object* o = Find(gadget);
    if (!o || index < 0 || index >= int(o->itemData.size())) return;
    Quiet quiet;
    if (wxItemContainer* items = Items(o)) items->SetString(unsigned(index), ToWx(text));
    else if (wxListCtrl* list = List(o); list && column < o->columns) list->SetItem(index, column, ToWx(text));
}

void UiSetItemData(int gadget, int index, int64_t data) {
    Object* o = Find(gadget);
    if (o && index >= 0 && index < int(o->itemData.size())) o->itemData[index] = data;
}

int64_t UiGetItemData(int gadget, int index) {
    Object* o = Find(gadget);
    return o && index >= 0 && index < int(o->itemData.size()) ? o->itemData[index] : 0;
}

void UiSetItemSelected(int gadget, int index, bool selected) {
    Object* o = Find(gadget);
    if (!o || index < 0 || index >= int(o->itemData.size())) return;
    Quiet quiet;
    if (wxListCtrl* list = List(o)) list->SetItemState(index, selected ? wxLIST_STATE_SELECTED : 0, wxLIST_STATE_SELECTED);
    else if (selected) UiSetGadgetState(gadget, index);
}

bool UiIsItemSelected(int gadget, int index) {
    Object* o = Find(gadget);
    if (!o || index < 0 || index >= int(o->itemData.size())) return false;
    if (wxListCtrl* list = List(o)) return list->GetItemState(index, wxLIST_STATE_SELECTED) != 0;
    return UiGetGadgetState(gadget) == index;
}

void UiEnableFileDrop(int gadget, bool enable) {
    Object* o = Find(gadget);
    if (!o || o->kind == Kind::Window) return;
    o->widget->SetDropTarget(enable ? new FileDrop(gadget) : nullptr);
}

std::vector<std::string> UiGetDroppedFiles() { return gDroppedFiles; }

void UiTestQueueFilesDropped(int gadget, const std::vector<std::string>& paths) {
    gDroppedFiles = paths;
    UiTestQueueGadget(gadget, UiEventType::FilesDropped);
}

// ---------------------------------------------------------------------------
// Canvases

Image* UiCanvasImage(int canvas) {
    Object* o = FindKind(canvas, Kind::Canvas);
    return o ? o->buffer.get() : nullptr;
}

void UiShowCanvas(int canvas) {
    if (Object* o = FindKind(canvas, Kind::Canvas)) o->widget->Refresh(false);
}

void UiSetCanvasPainter(int canvas, UiCanvasPainter painter) {
    Object* o = FindKind(canvas, Kind::Canvas);
    if (!o) return;
    o->painter = std::move(painter);
    if (o->painter) o->buffer.reset();
    else if (!o->buffer)
        o->buffer = CreateImage(std::max(o->pixelWidth, 1), std::max(o->pixelHeight, 1), 32, kOpaqueBlack);
    o->widget->Refresh(false);
}

int UiCanvasPixelWidth(int canvas) {
    Object* o = FindKind(canvas, Kind::Canvas);
    return o ? o->pixelWidth : 0;
}

int UiCanvasPixelHeight(int canvas) {
    Object* o = FindKind(canvas, Kind::Canvas);
    return o ? o->pixelHeight : 0;
}

uint32_t UiGetCanvasPixel(int canvas, int x, int y) {
    Object* o = FindKind(canvas, Kind::Canvas);
    if (!o || x < 0 || y < 0 || x >= o->pixelWidth || y >= o->pixelHeight) return 0;
    if (!o->painter) return o->buffer ? GetPixelColour(*o->buffer, x, y) : 0;
    ImagePtr one = CreateImage(1, 1, 32, kOpaqueBlack);
    if (!one) return 0;
    o->painter(*one, x, y);
    return GetPixelColour(*one, 0, 0);
}

UiRect UiGetCanvasVisibleRect(int canvas) {
    Object* o = FindKind(canvas, Kind::Canvas);
    return o ? VisibleRect(*o) : UiRect{};
}

void UiPaintCanvasNow(int canvas) {
    Object* o = FindKind(canvas, Kind::Canvas);
    if (!o) return;
    const UiRect v = VisibleRect(*o);
    wxClientDC dc(o->widget);
    PaintRect(dc, *o, wxRect(v.x, v.y, v.width, v.height));
}
