// The extraction run: the progress window around a test pass and an extract
// pass, then (temporary mode) the install command and the clean-up.
#pragma once

#include "archive/archive_entry.h"

// 1 when the test pass and the extract pass succeeded, else 0. Shows its own
// messages.
int RunExtraction();

// The one place where a header status becomes a box: damaged archive (also
// for a header that cannot be read), unsupported method, no memory. Nothing
// for Entry and End. True when a box was shown.
bool ShowEntryStatusBox(EntryStatus status);
