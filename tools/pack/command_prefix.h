// The install command of temporary mode as valkrin-pack writes it. The stub
// starts the command with the extraction folder as its working folder, but
// Windows looks for a program named without a folder in the stub's own
// folder and along the PATH before the working folder, so a bare
// "setup.exe" may start another program or none. valkrin-pack therefore
// puts %ExtractDir%\ in front of such a program unless told to keep it.
#pragma once

#include <string>

#include "format/command_line.h"

// The text that prefixes a bare program.
extern const char EXTRACT_DIR_PREFIX[];

// Where the program of a command line is: its first token, after blanks and
// tabs, either in double quotes (up to the closing quote or the end) or up to
// the next blank or tab. `begin` is the first byte of the program's name
// (behind an opening quote), `length` its length.
using lzh_format::ProgramSpan;
ProgramSpan FindProgram(const std::string& command);

// True when the program names where it is: it holds '\', '/' or ':', or it
// begins with a %variable% (such as %SystemDir%).
bool NamesFolder(const std::string& program);

// The command with %ExtractDir%\ in front of its program, inside its quotes;
// an unquoted program gets them: setup.exe /q and "setup.exe" /q both become
// "%ExtractDir%\setup.exe" /q.
std::string PrefixProgram(const std::string& command);
