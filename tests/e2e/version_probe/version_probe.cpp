// version-probe OUT.txt FILE KEY...: reads the version information of FILE
// the way Windows programs do (GetFileVersionInfoA, VerQueryValueA) and
// writes to OUT.txt, in the ANSI code page, one line each: the translation,
// the fixed file and product versions, then every KEY's string as KEY=value.
// A test helper; it is never shipped.
#include <windows.h>
#include <stdio.h>

#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: version-probe OUT.txt FILE KEY...\n");
        return 2;
    }
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(argv[2], &ignored);
    std::vector<char> data(size == 0 ? 1 : size);
    if (size == 0 || !GetFileVersionInfoA(argv[2], 0, size, data.data())) {
        fprintf(stderr, "no version information in %s (error %lu)\n", argv[2], GetLastError());
        return 1;
    }
    FILE* out = fopen(argv[1], "wb");
    if (out == nullptr) return 1;
    WORD* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
        length < 4) {
        fprintf(out, "Translation=none\n");
        fclose(out);
        return 1;
    }
    fprintf(out, "Translation=%04X%04X\n", translation[0], translation[1]);
    VS_FIXEDFILEINFO* fixed = nullptr;
    if (VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) && fixed != nullptr) {
        fprintf(out, "FixedFileVersion=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
        fprintf(out, "FixedProductVersion=%u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS),
                LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
    }
    for (int i = 3; i < argc; ++i) {
        char path[256];
        snprintf(path, sizeof path, "\\StringFileInfo\\%04X%04X\\%s", translation[0], translation[1], argv[i]);
        char* value = nullptr;
        if (VerQueryValueA(data.data(), path, reinterpret_cast<void**>(&value), &length) && value != nullptr) {
            fprintf(out, "%s=%s\n", argv[i], value);
        } else {
            fprintf(out, "%s is missing\n", argv[i]);
        }
    }
    fclose(out);
    return 0;
}
