// The command line of packages that choose the extended switches: several
// switches, in any order, with - or /, letters in either case, before the
// folder argument; `--` hands the rest of the line to the installer.
//
//   setup.exe [-n] [-q] [-s] [-t] [-x DIR] [-l FILE] [-?] [FOLDER] [-- ARGUMENTS]
#pragma once

#include "common/run_state.h"

enum class SwitchVerdict {
    Run,      // the switches are read; apply them
    Help,     // -?: show the list of switches
    Refused,  // an unknown switch, or one without its value: `refused` names it
    TooLong,  // the folder argument does not fit its 259 bytes
};

struct ParsedSwitches {
    bool noQuestion;             // -n
    bool askQuestion;            // -q
    bool silent;                 // -s
    bool testOnly;               // -t
    bool extractOnly;            // -x DIR
    WCHAR extractFolder[PATH_SIZE];
    WCHAR logFile[PATH_SIZE];    // -l FILE, or empty
    WCHAR folder[PATH_SIZE];     // the folder argument as written, quotes kept, or empty (cut when too long)
    const WCHAR* arguments;      // behind `--` and its blanks, or null
    WCHAR refused[PATH_SIZE];    // the switch refused
};

// Reads `line` (the command line behind the program's name) into `parsed`.
// Switches come first, each its own token; a value (-x, -l) is the next
// token, quoted or up to a blank, and may not begin with '-'. The folder
// argument is the rest of the line up to a `--` outside quotes.
SwitchVerdict ParseSwitches(const WCHAR* line, ParsedSwitches* parsed);
