// The About window and the help page.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The program title the About window shows.
extern const char* const kAboutTitle;

// The About window for the main window with the program's title and logo.
void ShowAbout();
// Runs the modal About window over `parent`. The logo is PNG data from
// logoStart up to logoEnd; it is left out when absent or undecodable.
void ShowAboutWindow(int parent, const std::string& title, const uint8_t* logoStart, const uint8_t* logoEnd);
// Opens Help/Orvanta-Help.html beside the executable with the desktop's
// viewer, or says where it should be when it is missing.
void OpenHelpFile();

// Test hook: runs once the About window is open, before its loop waits.
// logo is 0 when the logo was left out.
using AboutWindowHook = std::function<void(int window, int logo, int titleLabel, int close)>;
void SetAboutWindowHookForTesting(AboutWindowHook hook);
