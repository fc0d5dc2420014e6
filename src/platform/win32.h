// The one place that brings in the Win32 API. The product build takes the
// system headers; the host build takes our own declarations of the same
// calls, implemented on POSIX in posix/.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>
#else
#include "posix/win32_host.h"
#endif
