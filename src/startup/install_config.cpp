#include "startup/install_config.h"

#include "common/run_state.h"
#include "common/system_calls.h"
#include "common/text.h"
#include "res/resource.h"
#include "ui/texts.h"

InstallConfig g_config;

// The length of a text field: up to its terminator, or cut inside the field
// before a lead byte left without its trail byte.
static uint32_t FieldLength(const char* field, uint32_t size) {
    uint32_t length = 0;
    while (length < size && field[length] != 0) ++length;
    if (length < size) return length;
    uint32_t fit = 0;
    while (fit < size - 1) {
        uint32_t step = IsShiftJisLeadByte(static_cast<uint8_t>(field[fit])) ? 2 : 1;
        if (fit + step > size - 1) break;
        fit += step;
    }
    return fit;
}

static void TakeField(WCHAR* dest, uint32_t capacity, const char* field, uint32_t size) {
    TextFromShiftJis(dest, capacity, field, FieldLength(field, size));
}

bool LoadInstallConfig(const WCHAR* ownPath) {
    MemFill(&g_config, 0, sizeof g_config);
    HANDLE file = OpenPath(ownPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) return false;
    if (SetFilePointer(file, CONFIG_FILE_OFFSET, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        CloseHandle(file);
        return false;
    }
    DWORD read = 0;
    BOOL ok = ReadFile(file, &g_config, sizeof g_config, &read, nullptr);
    CloseHandle(file);
    if (!ok || read != sizeof g_config) return false;

    TakeField(g_run.title, TITLE_SIZE, g_config.title, sizeof g_config.title);
    TakeField(g_run.command, PATH_SIZE, g_config.command, sizeof g_config.command);
    if (g_run.title[0] == 0) TextCopy(g_run.title, TITLE_SIZE, LoadText(IDS_TITLE));
    return true;
}
