// Message boxes as the user gets them: GTK's own message dialog with the
// theme's icon for the kind of box (none for a plain box), the texts, buttons,
// default button, Escape and Return, and the "alert" role screen readers
// announce. The real dialog is shown and answered from inside its own loop.
#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "tests/ui_fixture.h"

namespace {

// What the dialog showed, and how to answer it: a key, or a click on a button
// by its shown text.
struct Inspector {
    guint key = 0;
    std::string click;
    bool answered = false, messageDialog = false, alert = false;
    std::string icon, title, text, defaultButton;  // icon empty: none shown
    std::vector<std::string> buttons;              // shown texts, in their order
    int ticksAnswered = 0;
    bool forced = false;
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

// The icon shown (by its theme name) and the buttons in their order.
void Collect(GtkWidget* widget, Inspector& seen, std::vector<GtkWidget*>& buttons) {
    const gchar* icon = nullptr;
    if (GTK_IS_IMAGE(widget) && gtk_widget_get_visible(widget) &&
        gtk_image_get_storage_type(GTK_IMAGE(widget)) == GTK_IMAGE_ICON_NAME) {
        gtk_image_get_icon_name(GTK_IMAGE(widget), &icon, nullptr);
        if (icon) seen.icon = icon;
    }
    if (GTK_IS_BUTTON(widget)) {
        buttons.push_back(widget);
        seen.buttons.push_back(ShownText(widget));
    } else if (GTK_IS_CONTAINER(widget)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
        for (GList* c = children; c; c = c->next) Collect(GTK_WIDGET(c->data), seen, buttons);
        g_list_free(children);
    }
}

// A key press and release as the keyboard would send them to the dialog.
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

// Runs inside the dialog's own loop: looks once, answers, and ends a dialog
// the answer did not close, so that no test can hang.
gboolean Inspect(gpointer data) {
    auto& seen = *static_cast<Inspector*>(data);
    GtkWidget* dialog = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w; w = w->next)
        if (GTK_IS_DIALOG(w->data) && gtk_widget_get_mapped(GTK_WIDGET(w->data))) dialog = GTK_WIDGET(w->data);
    g_list_free(windows);
    if (!dialog) return G_SOURCE_CONTINUE;
    if (seen.answered) {
        if (++seen.ticksAnswered < 300) return G_SOURCE_CONTINUE;
        seen.forced = true;
        gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
        return G_SOURCE_CONTINUE;
    }
    seen.answered = true;
    seen.messageDialog = GTK_IS_MESSAGE_DIALOG(dialog);
    const gchar* title = gtk_window_get_title(GTK_WINDOW(dialog));
    seen.title = title ? title : "";
    gchar* text = nullptr;
    if (seen.messageDialog) g_object_get(dialog, "text", &text, nullptr);
    seen.text = text ? text : "";
    g_free(text);
    seen.alert = atk_object_get_role(gtk_widget_get_accessible(dialog)) == ATK_ROLE_ALERT;
    std::vector<GtkWidget*> buttons;
    Collect(dialog, seen, buttons);
    if (GtkWidget* def = gtk_window_get_default_widget(GTK_WINDOW(dialog))) seen.defaultButton = ShownText(def);
    if (seen.key) PressKey(dialog, seen.key);
    for (GtkWidget* b : buttons)
        if (ShownText(b) == seen.click) gtk_button_clicked(GTK_BUTTON(b));
    return G_SOURCE_CONTINUE;
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
    const struct {
        UiButtons buttons;
        UiIcon icon;
        guint key;
        const char* click;
        std::string themeIcon;
        std::vector<std::string> shownButtons;
        std::string defaultButton;
        int result;
    } cases[] = {
        {UiButtons::Ok, UiIcon::Error, GDK_KEY_Return, "", "dialog-error", ok, "_OK", 1},
        {UiButtons::Ok, UiIcon::Information, GDK_KEY_Escape, "", "dialog-information", ok, "_OK", -1},
        {UiButtons::YesNo, UiIcon::Warning, GDK_KEY_Return, "", "dialog-warning", yesNo, "_Yes", 1},
        {UiButtons::YesNo, UiIcon::Warning, GDK_KEY_Escape, "", "dialog-warning", yesNo, "_Yes", -1},
        // Boxes the program gives no icon, such as the overwrite question; coming
        // after boxes with one, they also show that an icon never outlives its box.
        {UiButtons::YesNo, UiIcon::None, 0, "_No", "", yesNo, "_Yes", 0},
        {UiButtons::Ok, UiIcon::None, GDK_KEY_Return, "", "", ok, "_OK", 1},
        {UiButtons::YesNoCancel, UiIcon::Warning, 0, "_Cancel", "dialog-warning", yesNoCancel, "_Yes", -1},
        {UiButtons::YesNoCancel, UiIcon::Warning, GDK_KEY_Return, "", "dialog-warning", yesNoCancel, "_Yes", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.themeIcon + ", " + std::to_string(c.shownButtons.size()) + " buttons, key " +
                     std::to_string(c.key) + ", click " + c.click);
        Inspector seen;
        seen.key = c.key;
        seen.click = c.click;
        const guint source = g_timeout_add(10, Inspect, &seen);
        EXPECT_EQ(UiMessageBox("Dravik Orvanta", "First line\nsecond line", c.buttons, c.icon, window_), c.result);
        g_source_remove(source);
        EXPECT_FALSE(seen.forced) << "the answer did not close the box";
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
