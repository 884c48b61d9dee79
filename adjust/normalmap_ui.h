// The "Normal map" submenu: flipping, rebuilding and normalizing normal maps,
// and making one from a height map. Each command builds a new picture from
// the open one and commits it as one edit.
#pragma once

#include <cstdint>

// Runs the command with id `id` (CommandId::FlipGreen to
// CommandId::NormalFromHeight); any other id does nothing.
void HandleNormalMapCommand(int64_t id);
