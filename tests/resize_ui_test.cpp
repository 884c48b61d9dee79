// The Resize dialog and command: the aspect link between the fields, the
// fit button, the accepted range, the ways out, and the resize it leads to.
#include "tests/editor_fixture.h"

#include "adjust/resize_ui.h"
#include "editor/commands.h"
#include "formats/sizing.h"

namespace {

// One user action in the dialog: set a field's text and report the change
// (a Change event), tick the box, or click a button.
struct Step {
    enum Kind { TypeWidth, TypeHeight, Untick, Fit, Ok, Cancel, Escape, Close } kind;
    std::string text;
};

class EditorResize : public EditorTest {
protected:
    void TearDown() override {
        SetResizeDialogHookForTesting(nullptr);
        EditorTest::TearDown();
    }
    // Runs the dialog for w0 x h0, playing every step at its own wait; the
    // fields and the message line are read at the last wait.
    int64_t Run(int64_t w0, int64_t h0, const std::vector<Step>& steps) {
        SetResizeDialogHookForTesting([&](const ResizeDialogGadgets& g, int wait) {
            gadgets_ = g;
            width_ = UiGetGadgetText(g.widthField);
            height_ = UiGetGadgetText(g.heightField);
            message_ = UiGetGadgetText(g.message);
            if (wait >= int(steps.size())) return;
            const Step& s = steps[size_t(wait)];
            switch (s.kind) {
                case Step::TypeWidth:
                case Step::TypeHeight: {
                    const int field = s.kind == Step::TypeWidth ? g.widthField : g.heightField;
                    UiSetGadgetText(field, s.text);
                    UiTestQueueGadget(field, UiEventType::Change);
                    break;
                }
                case Step::Untick:
                    UiSetGadgetState(g.keepAspect, 0);
                    UiTestQueueGadget(g.keepAspect, UiEventType::Click);
                    break;
                case Step::Fit: UiTestQueueGadget(g.fitButton, UiEventType::Click); break;
                case Step::Ok: UiTestQueueGadget(g.ok, UiEventType::Click); break;
                case Step::Cancel: UiTestQueueGadget(g.cancel, UiEventType::Click); break;
                case Step::Escape: EXPECT_TRUE(UiTestPressShortcut(g.window, 0, kUiKeyEscape)); break;
                case Step::Close: UiTestQueueCloseBox(g.window); break;
            }
        });
        outWidth_ = outHeight_ = -7;
        return RunResizeDialog(gMainWindow, w0, h0, outWidth_, outHeight_);
    }
    ResizeDialogGadgets gadgets_{};
    std::string width_, height_, message_;
    int64_t outWidth_ = 0, outHeight_ = 0;
};

TEST_F(EditorResize, FieldsFollowEachOtherAndOkTakesThem) {
    int fitW = 0, fitH = 0;
    FitSizePowerOfTwo(1000, 700, 1024, fitW, fitH);
    struct Case {
        const char* name;
        int64_t w0, h0;
        std::vector<Step> steps;
        int64_t w, h;
    } cases[] = {
        {"unchanged", 300, 200, {{Step::Ok, ""}}, 300, 200},
        {"width 150", 300, 200, {{Step::TypeWidth, "150"}, {Step::Ok, ""}}, 150, 100},
        {"width 151 rounds", 300, 200, {{Step::TypeWidth, "151"}, {Step::Ok, ""}}, 151, 101},
        {"height picked", 300, 200, {{Step::TypeHeight, "64"}, {Step::Ok, ""}}, 96, 64},
        {"blanks and tail", 300, 200, {{Step::TypeWidth, "  60px"}, {Step::Ok, ""}}, 60, 40},
        {"unticked", 300, 200,
         {{Step::Untick, ""}, {Step::TypeWidth, "512"}, {Step::TypeHeight, "128"}, {Step::Ok, ""}}, 512, 128},
        {"fit wide", 2048, 512, {{Step::Fit, ""}, {Step::Ok, ""}}, 1024, 256},
        {"fit from the picture", 1000, 700, {{Step::TypeWidth, "16"}, {Step::Fit, ""}, {Step::Ok, ""}}, fitW, fitH},
        {"largest side", 300, 200, {{Step::Untick, ""}, {Step::TypeWidth, "16384"}, {Step::Ok, ""}}, 16384, 200},
        {"huge typed width", 3, 2, {{Step::TypeWidth, "99999999999999999999"}, {Step::TypeWidth, "3"}, {Step::Ok, ""}},
         3, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Run(c.w0, c.h0, c.steps), 1);
        EXPECT_EQ(outWidth_, c.w);
        EXPECT_EQ(outHeight_, c.h);
        EXPECT_FALSE(UiIsWindow(gadgets_.window));
        EXPECT_TRUE(UiIsWindowEnabled(gMainWindow));
    }
}

TEST_F(EditorResize, BadSizesKeepTheDialogOpenAndWaysOutWriteNothing) {
    for (const char* bad : {"0", "abc", "20000", "-5"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(Run(300, 200, {{Step::Untick, ""}, {Step::TypeWidth, bad}, {Step::Ok, ""}, {Step::Cancel, ""}}), 0);
        EXPECT_EQ(message_, "Invalid size");
        EXPECT_EQ(outWidth_, -7);
    }
    for (Step::Kind out : {Step::Cancel, Step::Escape, Step::Close}) {
        EXPECT_EQ(Run(300, 200, {{Step::TypeWidth, "150"}, {out, ""}}), 0);
        EXPECT_EQ(outWidth_, -7);
        EXPECT_EQ(outHeight_, -7);
        EXPECT_TRUE(UiIsWindowEnabled(gMainWindow));
    }
}

TEST_F(EditorResize, CommandResizesTheOpenPicture) {
    // Nothing open: the message and no dialog.
    UiTestScriptMessageAnswer(1);
    int dialogs = 0;
    SetResizeDialogHookForTesting([&](const ResizeDialogGadgets&, int) { ++dialogs; });
    DispatchCommand(16);
    EXPECT_EQ(dialogs, 0);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], "Please open a .tex file first.");

    ShowPicture(CreateImage(300, 200, 32, MakeColour(9, 8, 7)));
    SetResizeDialogHookForTesting([](const ResizeDialogGadgets& g, int wait) {
        if (wait == 0) {
            EXPECT_EQ(UiGetGadgetText(g.widthField), "300");
            UiSetGadgetText(g.widthField, "150");
            UiTestQueueGadget(g.widthField, UiEventType::Change);
        } else {
            UiTestQueueGadget(g.ok, UiEventType::Click);
        }
    });
    DispatchCommand(16);
    ASSERT_TRUE(gCurrentImage);
    EXPECT_EQ(gCurrentImage->width, 150);
    EXPECT_EQ(gCurrentImage->height, 100);
    EXPECT_EQ(GetUndoLabel(), "Resize");
}

}  // namespace
