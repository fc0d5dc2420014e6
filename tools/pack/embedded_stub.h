// The stub that valkrin-pack carries inside itself: the laid-out valkrin.exe
// of the windows build, compiled in as bytes by cmake/embed_file.cmake. A
// builder made when no stub was there carries none (size 0) and needs --stub.
#pragma once

#include <stddef.h>

extern const unsigned char EMBEDDED_STUB[];
extern const size_t EMBEDDED_STUB_SIZE;
