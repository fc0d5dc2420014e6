// The counter-check of the DLL-planting tests: a program that loads DLLs the
// careless way, by bare name with the default search order, which looks
// beside the program first. Placed beside the marker DLLs it must make every
// one of them write its marker; if it does not, the planting tests could not
// fail.
//
//   marker-probe.exe NAME.dll...
//
// The exit code is the number of names that could not be loaded.
#include <windows.h>

int main(int argc, char** argv) {
    int missing = 0;
    for (int i = 1; i < argc; ++i) {
        if (LoadLibraryA(argv[i]) == nullptr) ++missing;
    }
    return missing;
}
