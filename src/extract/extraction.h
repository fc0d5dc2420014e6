// The extraction run: the progress window around a test pass and an extract
// pass, then (temporary mode) the install command and the clean-up.
#pragma once

// 1 when the test pass and the extract pass succeeded, else 0. Shows its own
// messages.
int RunExtraction();
