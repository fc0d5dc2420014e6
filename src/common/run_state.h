// The process-wide state of one run. It lives from the entry point to the
// exit code; every subsystem reads and writes it directly.
//
// A run moves through these states:
//   start-up     version gate, configuration block, command line, question
//   window open  the progress window exists and owns every later box
//   testing      first pass: headers checked, sizes summed, data skipped
//   extracting   second pass: every entry written below the extraction folder
//   installing   temporary mode: the install command runs and is awaited
//   cleaning up  temporary mode: the extraction folder is removed
//   finished     the window is gone; the result becomes the exit code
#pragma once

#include <stdint.h>

#include "platform/win32.h"

// Bytes of the shared text buffer.
constexpr uint32_t TEXT_BUFFER_SIZE = 1024;
// A path kept in a field: 259 bytes of text and the terminator.
constexpr uint32_t PATH_SIZE = MAX_PATH;
// An output path joins the extraction folder and an entry's name.
constexpr uint32_t OUTPUT_PATH_SIZE = 2 * MAX_PATH;
// The extraction folder in temporary mode: a base of up to 260 bytes and the
// 11 bytes of "valkrin.NNN".
constexpr uint32_t EXTRACTION_FOLDER_SIZE = MAX_PATH + 12;

struct RunState {
    HINSTANCE instance;                           // our own module: texts, icon, dialog
    char ownPath[PATH_SIZE];                      // the executable; archive source and error subject
    char tempBaseFolder[PATH_SIZE];               // folder argument in temporary mode, quotes kept
    char extractionFolder[EXTRACTION_FOLDER_SIZE];  // set by the extract pass, used by the installer
    HWND progressWindow;                          // owner of every box once it exists
    HANDLE archiveFile;                           // our own executable, open during a pass
    HANDLE outputFile;                            // the file being written in the extract pass
    char outputPath[OUTPUT_PATH_SIZE];            // its path: subject of write errors
    uint32_t outputNameStart;                     // where the entry's Shift-JIS name begins in it
    int errorFlag;                                // 1 after any failure in the current pass
    int cancelFlag;                               // 1 once the user cancelled (set by the window)
    uint64_t total;                               // sum of original sizes, from the test pass
    uint64_t done;                                // bytes produced so far in the current pass
};

extern RunState g_run;

// One shared buffer for the error box message, the question and every
// expansion; nothing in it survives an ErrorBox call.
extern char g_textBuffer[TEXT_BUFFER_SIZE];
