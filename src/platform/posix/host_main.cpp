// valkrin-host PACKED.exe [ARGS]: the stub as a Linux console program. A
// Linux executable cannot carry the block at offset 512 of itself, so the
// packed file named first stands in for our own executable; the remaining
// arguments form the command line.
#include <stdio.h>

#include <string>

#include "platform/posix/host_controls.h"
#include "startup/startup.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: valkrin-host PACKED.exe [ARGS]\n");
        return 2;
    }
    host::SetInteractive(true);
    host::SetModulePath(argv[1]);
    std::string commandLine;
    for (int i = 2; i < argc; ++i) {
        if (i > 2) commandLine += ' ';
        commandLine += argv[i];
    }
    host::SetCommandLine(commandLine);
    return WinMain(host::ModuleHandle(), nullptr, &commandLine[0], SW_SHOWDEFAULT);
}
