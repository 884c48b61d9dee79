// The ".gro" chooser: a modal window listing the ".tex" entries of an
// archive (name, size in KB, folder) with a filter field, for picking one
// texture, or several with Ctrl/Shift when asked to.
#pragma once

#include <functional>
#include <string>

// Refills the chooser's list from gGroEntries: the rows whose lower-cased
// name contains the trimmed, lower-cased filter (all when it is empty), each
// row's data its index in gGroEntries; the label gets "<rows> of <total>
// textures".
void FillGroEntryList(int listGadget, int countLabel, const std::string& filter);

// Puts the names of the selected rows into gGroSelectedNames, in list order;
// the first of them, or empty when no row is selected.
std::string CollectSelectedGroEntries(int listGadget);

// Lists the archive and lets the user choose. The chosen entry name (the
// first when several), or empty when the user cancels or the archive has no
// textures (the user is told). gGroSelectedNames holds every chosen name.
std::string ShowGroChooser(const std::string& archivePath, int parentWindow, int multiple);

// Test hook: called once the chooser is built, before it waits for the user,
// with the window and its gadgets.
using GroChooserHook =
    std::function<void(int window, int filter, int count, int list, int open, int cancel)>;
void SetGroChooserHookForTesting(GroChooserHook hook);
