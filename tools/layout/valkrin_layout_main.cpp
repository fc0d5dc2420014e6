// valkrin-layout STUB.exe [LIMIT [TARGET]]: the post-link step. Gives the
// linked stub its header layout in place and reports its size; fails when
// the stub reaches LIMIT bytes and warns above TARGET.
#include <stdio.h>
#include <stdlib.h>

#include "layout/layout.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        fprintf(stderr, "usage: valkrin-layout STUB.exe [LIMIT [TARGET]]\n");
        return 2;
    }
    const char* path = argv[1];
    pe::Bytes file;
    std::string error;
    if (!pe::ReadFile(path, &file, &error) || !layout::Apply(file, &error) ||
        !pe::WriteFile(path, file, &error)) {
        fprintf(stderr, "valkrin-layout: %s: %s\n", path, error.c_str());
        return 1;
    }
    unsigned long limit = argc > 2 ? strtoul(argv[2], nullptr, 0) : 0;
    unsigned long target = argc > 3 ? strtoul(argv[3], nullptr, 0) : 0;
    printf("-- stub size: %zu bytes (%.1f KiB)", file.size(), file.size() / 1024.0);
    if (limit != 0) printf("; limit %lu, %lu bytes to spare", limit, limit > file.size() ? limit - file.size() : 0);
    printf("\n");
    if (limit != 0 && file.size() >= limit) {
        fprintf(stderr, "valkrin-layout: the stub must stay below %lu bytes\n", limit);
        return 1;
    }
    if (target != 0 && file.size() > target) {
        printf("-- stub size: above the %lu-byte target\n", target);
    }
    return 0;
}
