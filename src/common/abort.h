// The non-local exit of the extract pass.
//
// AbortExtraction is raised deep inside reading, decoding, writing and
// progress reporting, always after its raiser has shown its message (a cancel
// shows none). It is caught in one place only: RunGuarded, around the data
// step of a file entry. Nothing between the two needs unwinding: the catcher
// closes and deletes the output file itself.
#pragma once

[[noreturn]] void AbortExtraction();

// Runs step(context). Returns true when it returned normally, false when it
// left through AbortExtraction. Guarded runs do not nest.
bool RunGuarded(void (*step)(void* context), void* context);
