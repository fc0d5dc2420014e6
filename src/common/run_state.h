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

#include "format/config_block.h"
#include "platform/win32.h"

// Units of the shared text buffer.
constexpr uint32_t TEXT_BUFFER_SIZE = 1024;
// A path kept in a field: 259 units of text and the terminator.
constexpr uint32_t PATH_SIZE = MAX_PATH;
// An output path joins the extraction folder and an entry's name.
constexpr uint32_t OUTPUT_PATH_SIZE = 2 * MAX_PATH;
// The extraction folder in temporary mode: a base of up to 260 units and the
// 11 of "valkrin.NNN".
constexpr uint32_t EXTRACTION_FOLDER_SIZE = MAX_PATH + 12;
// The configured title: 50 bytes of Shift-JIS are at most 50 units.
constexpr uint32_t TITLE_SIZE = 51;

// Every text here is in the form of common/text.h: UTF-16 on the NT family,
// bytes in units on Windows 95, 98 and Me.
struct RunState {
    HINSTANCE instance;                             // our own module: texts, icon, dialog
    WCHAR ownPath[PATH_SIZE];                       // the executable; archive source and error subject
    WCHAR title[TITLE_SIZE];                        // the configured title: caption of every box
    WCHAR command[PATH_SIZE];                       // the install command or destination, as applied
    WCHAR tempBaseFolder[PATH_SIZE];                // folder argument in temporary mode, quotes kept
    WCHAR extractionFolder[EXTRACTION_FOLDER_SIZE];  // set by the extract pass, used by the installer
    HWND progressWindow;                            // owner of every box once it exists
    HANDLE archiveFile;                             // our own executable, open during a pass
    HANDLE outputFile;                              // the file being written in the extract pass
    WCHAR outputPath[OUTPUT_PATH_SIZE];             // its path: subject of write errors
    int errorFlag;                                  // 1 after any failure in the current pass
    int cancelFlag;                                 // 1 once the user cancelled (set by the window)
    int declined;                                   // 1 once the user said No or declined the elevation
    int silent;                                     // -s: no question, no window, no box
    int testOnly;                                   // -t: the test pass alone, nothing written
    int extractOnly;                                // -x: both passes into the folder given, nothing run
    int commandTooLong;                             // installer arguments made the command overflow its field
    int installerEnded;                             // the installer's exit code below is known
    DWORD installerExitCode;                        // the installer's own exit code
    HANDLE logFile;                                 // -l: the log, or null
    WCHAR refusedText[PATH_SIZE];                   // a switch or folder argument refused, named in its box
    uint64_t total;                                 // sum of original sizes, from the test pass
    uint64_t done;                                  // bytes produced so far in the current pass
    int shownPercent;                               // the bar's position as last set, -1 at a pass's start
    DWORD shownAt;                                  // when it was set (MillisecondsNow)
};

extern RunState g_run;

// The configuration block as loaded at start-up (startup/install_config.h);
// after that only read. Its title and command are taken into g_run.
extern InstallConfig g_config;

// One shared buffer for the error box message, the question and every
// expansion; nothing in it survives an ErrorBox call.
extern WCHAR g_textBuffer[TEXT_BUFFER_SIZE];
