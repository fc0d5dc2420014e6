#include "common/abort.h"

#ifdef _WIN32
// The product keeps no unwinder: a builtin jump buffer of five words is all
// that the exit needs.
static void* g_abortJump[5];

__attribute__((noinline)) bool RunGuarded(void (*step)(void*), void* context) {
    if (__builtin_setjmp(g_abortJump) != 0) return false;
    step(context);
    return true;
}

void AbortExtraction() { __builtin_longjmp(g_abortJump, 1); }

#else
// The host build uses an exception so that the sanitizers see the stack
// being left.
namespace {
struct AbortSignal {};
}  // namespace

bool RunGuarded(void (*step)(void*), void* context) {
    try {
        step(context);
    } catch (const AbortSignal&) {
        return false;
    }
    return true;
}

void AbortExtraction() { throw AbortSignal(); }
#endif
