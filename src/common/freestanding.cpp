// The product links no C runtime, yet the compiler may still emit calls to
// these four for block copies and clears. They are defined here, plainly.
#ifdef _WIN32
#include <stddef.h>

extern "C" {
void* memset(void* dest, int value, size_t count) {
    unsigned char* out = static_cast<unsigned char*>(dest);
    while (count-- != 0) *out++ = static_cast<unsigned char>(value);
    return dest;
}

void* memcpy(void* dest, const void* source, size_t count) {
    unsigned char* out = static_cast<unsigned char*>(dest);
    const unsigned char* in = static_cast<const unsigned char*>(source);
    while (count-- != 0) *out++ = *in++;
    return dest;
}

void* memmove(void* dest, const void* source, size_t count) {
    unsigned char* out = static_cast<unsigned char*>(dest);
    const unsigned char* in = static_cast<const unsigned char*>(source);
    if (out < in) {
        while (count-- != 0) *out++ = *in++;
    } else {
        while (count-- != 0) out[count] = in[count];
    }
    return dest;
}

int memcmp(const void* a, const void* b, size_t count) {
    const unsigned char* x = static_cast<const unsigned char*>(a);
    const unsigned char* y = static_cast<const unsigned char*>(b);
    for (size_t i = 0; i < count; ++i) {
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    }
    return 0;
}
}
#endif
