// Loading the configuration block, once at start-up. The block itself,
// g_config, is in common/run_state.h: every layer reads it.
#pragma once

#include "common/run_state.h"
#include "platform/win32.h"

// Loads the block from the executable at `ownPath` into g_config, and its
// title and command into g_run in the form of every text. False when the
// file cannot be opened, the seek fails or fewer than 364 bytes can be read;
// it shows nothing itself. A text field without a terminator is cut at its
// last byte (and before a lead byte left without its trail byte); an empty
// title becomes the default title.
bool LoadInstallConfig(const WCHAR* ownPath);
