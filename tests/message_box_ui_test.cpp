// Message boxes as the user gets them: GTK's own message dialog with the
// theme's icon for the kind of box (none for a plain box), the texts, buttons,
// default button, Escape and Return, and the "alert" role screen readers
// announce. The real dialog is shown and answered from inside its own loop.
#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "tests/ui_fixture.h"

namespace {

enum class Answer { Return, Escape, ClickNo, ClickCancel };

struct Seen {
    bool messageDialog = false;
    std::string icon;  // empty: no icon shown
    std::string title, text;
    std::vector<std::string> buttons;  // shown texts, in their order
    std::string defaultButton;
    bool alert = false;
};

std::string ShownText(GtkWidget* widget) {
    if (GTK_IS_LABEL(widget)) return gtk_label_get_label(GTK_LABEL(widget));
    std::string text;
    if (GTK_IS_CONTAINER(widget)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
        for (GList* c = children; c && text.empty(); c = c->next) text = ShownText(GTK_WIDGET(c->data));
        g_list_free(children);
    }
    return text;
}

void Collect(GtkWidget* widget, Seen& seen, std::vector<GtkWidget*>& buttons) {
    if (GTK_IS_IMAGE(widget) && gtk_widget_get_visible(widget) &&
        gtk_image_get_storage_type(GTK_IMAGE(widget)) == GTK_IMAGE_ICON_NAME) {
        const gchar* name = nullptr;
        gtk_image_get_icon_name(GTK_IMAGE(widget), &name, nullptr);
        if (name) seen.icon = name;
    }
    if (GTK_IS_BUTTON(widget)) {
        buttons.push_back(widget);
        seen.buttons.push_back(ShownText(widget));
        return;
    }
    if (!GTK_IS_CONTAINER(widget)) return;
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* c = children; c; c = c->next) Collect(GTK_WIDGET(c->data), seen, buttons);
    g_list_free(children);
}

// A key as the keyboard would send it to the dialog.
void PressKey(GtkWidget* dialog, guint keyval) {
    GdkDisplay* display = gtk_widget_get_display(dialog);
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(dialog)));
    event->key.send_event = TRUE;
    event->key.time = GDK_CURRENT_TIME;
    event->key.keyval = keyval;
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &count) && count > 0) {
        event->key.hardware_keycode = guint16(keys[0].keycode);
        event->key.group = guint8(keys[0].group);
    }
    g_free(keys);
    gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
    gtk_main_do_event(event);
    event->type = GDK_KEY_RELEASE;
    gtk_main_do_event(event);
    gdk_event_free(event);
}

struct Inspector {
    Answer answer = Answer::Return;
    Seen seen;
    int ticksAnswered = 0;
    bool forced = false;
    guint source = 0;
};

GtkWidget* ShownDialog() {
    GtkWidget* found = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w; w = w->next)
        if (GTK_IS_DIALOG(w->data) && gtk_widget_get_mapped(GTK_WIDGET(w->data))) found = GTK_WIDGET(w->data);
    g_list_free(windows);
    return found;
}

// Runs inside the dialog's own loop: looks once, answers, and ends a dialog
// the answer did not close so that no test can hang.
gboolean Inspect(gpointer data) {
    auto* inspector = static_cast<Inspector*>(data);
    GtkWidget* dialog = ShownDialog();
    if (!dialog) return G_SOURCE_CONTINUE;
    if (inspector->ticksAnswered > 0) {
        if (++inspector->ticksAnswered < 300) return G_SOURCE_CONTINUE;
        inspector->forced = true;
        gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
        inspector->source = 0;
        return G_SOURCE_REMOVE;
    }
    Seen& seen = inspector->seen;
    seen.messageDialog = GTK_IS_MESSAGE_DIALOG(dialog);
    seen.title = gtk_window_get_title(GTK_WINDOW(dialog)) ? gtk_window_get_title(GTK_WINDOW(dialog)) : "";
    if (seen.messageDialog) {
        gchar* text = nullptr;
        g_object_get(dialog, "text", &text, nullptr);
        seen.text = text ? text : "";
        g_free(text);
    }
    seen.alert = atk_object_get_role(gtk_widget_get_accessible(dialog)) == ATK_ROLE_ALERT;
    std::vector<GtkWidget*> buttons;
    Collect(dialog, seen, buttons);
    if (GtkWidget* def = gtk_window_get_default_widget(GTK_WINDOW(dialog))) seen.defaultButton = ShownText(def);
    inspector->ticksAnswered = 1;
    auto click = [&](const std::string& label) {
        for (GtkWidget* b : buttons)
            if (ShownText(b) == label) gtk_button_clicked(GTK_BUTTON(b));
    };
    switch (inspector->answer) {
    case Answer::Return: PressKey(dialog, GDK_KEY_Return); break;
    case Answer::Escape: PressKey(dialog, GDK_KEY_Escape); break;
    case Answer::ClickNo: click("_No"); break;
    case Answer::ClickCancel: click("_Cancel"); break;
    }
    return G_SOURCE_CONTINUE;
}

struct Outcome {
    Seen seen;
    int result = -2;
    bool forced = false;
};

Outcome ShowAndAnswer(UiButtons buttons, UiIcon icon, Answer answer, int parent) {
    Inspector inspector;
    inspector.answer = answer;
    inspector.source = g_timeout_add(10, Inspect, &inspector);
    const int result = UiMessageBox("Dravik Orvanta", "First line\nsecond line", buttons, icon, parent);
    if (inspector.source != 0) g_source_remove(inspector.source);
    return {inspector.seen, result, inspector.forced};
}

class MessageBoxUiTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        if (IsSkipped()) return;
        window_ = UiOpenWindow(10, 10, 400, 300, "Owner", kUiCaption);
        UiSetTestMode(false);  // the real dialog
    }
    void TearDown() override {
        UiSetTestMode(true);
        UiTest::TearDown();
    }
    int window_ = 0;
};

TEST_F(MessageBoxUiTest, ShowsTheKindsThemeIconAndKeepsTextsButtonsKeysAndAlertRole) {
    const std::vector<std::string> ok = {"_OK"}, yesNo = {"_No", "_Yes"}, yesNoCancel = {"_No", "_Cancel", "_Yes"};
    struct Case {
        UiButtons buttons;
        UiIcon icon;
        Answer answer;
        std::string themeIcon;
        std::vector<std::string> shownButtons;
        std::string defaultButton;
        int result;
    } cases[] = {
        {UiButtons::Ok, UiIcon::Error, Answer::Return, "dialog-error", ok, "_OK", 1},
        {UiButtons::Ok, UiIcon::Information, Answer::Escape, "dialog-information", ok, "_OK", -1},
        {UiButtons::YesNo, UiIcon::Warning, Answer::Return, "dialog-warning", yesNo, "_Yes", 1},
        {UiButtons::YesNo, UiIcon::Warning, Answer::Escape, "dialog-warning", yesNo, "_Yes", -1},
        // Boxes the program gives no icon, such as the overwrite question; coming
        // after boxes with one, they also show that an icon never outlives its box.
        {UiButtons::YesNo, UiIcon::None, Answer::ClickNo, "", yesNo, "_Yes", 0},
        {UiButtons::Ok, UiIcon::None, Answer::Return, "", ok, "_OK", 1},
        {UiButtons::YesNoCancel, UiIcon::Warning, Answer::ClickCancel, "dialog-warning", yesNoCancel, "_Yes", -1},
        {UiButtons::YesNoCancel, UiIcon::Warning, Answer::Return, "dialog-warning", yesNoCancel, "_Yes", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(int(c.buttons)) + " / " + std::to_string(int(c.icon)) + " / " +
                     std::to_string(int(c.answer)));
        const Outcome outcome = ShowAndAnswer(c.buttons, c.icon, c.answer, window_);
        const Seen& seen = outcome.seen;
        EXPECT_FALSE(outcome.forced) << "the answer did not close the box";
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_TRUE(seen.messageDialog);
        EXPECT_TRUE(seen.alert);
        EXPECT_EQ(seen.icon, c.themeIcon);
        EXPECT_EQ(seen.title, "Dravik Orvanta");
        EXPECT_EQ(seen.text, "First line\nsecond line");
        EXPECT_EQ(seen.buttons, c.shownButtons);
        EXPECT_EQ(seen.defaultButton, c.defaultButton);
    }
}

}  // namespace
