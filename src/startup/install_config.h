// The configuration block as the stub holds it: loaded once at start-up.
#pragma once

#include "format/config_block.h"

extern InstallConfig g_config;

// Loads the block from the executable at `ownPath`. False when the file
// cannot be opened, the seek fails or fewer than 364 bytes can be read; it
// shows nothing itself. A text field without a terminator is cut at its last
// byte (and before a lead byte left without its trail byte); an empty title
// becomes the default title.
bool LoadInstallConfig(const char* ownPath);
