// The one place that brings in the Win32 API. The product build takes the
// system headers; the host build takes our own declarations of the same
// calls, implemented on POSIX in posix/.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <tlhelp32.h>
// CreateProcessA's error for a program whose manifest demands rights that
// the caller lacks; older headers do not name it.
#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740L
#endif
#else
#include "posix/win32_host.h"
#endif
