// The "Channels" submenu: extracting a channel as a grayscale picture, and
// loading, inverting or removing the alpha channel. Each command builds a new
// picture from the open one and commits it as one edit.
#pragma once

#include <cstdint>

// Runs the command with id `menuId` (CommandId::ExtractRed to
// CommandId::InvertAlpha); any other id does nothing.
void HandleChannelCommand(int64_t menuId);
