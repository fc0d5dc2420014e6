#include "startup/install_config.h"

#include "common/text.h"
#include "platform/win32.h"
#include "res/resource.h"
#include "ui/texts.h"

InstallConfig g_config;

// Makes sure a text field ends inside itself, without a split character.
static void TerminateField(char* field, uint32_t size) {
    for (uint32_t i = 0; i < size; ++i) {
        if (field[i] == 0) return;
    }
    field[FitCharacters(field, size, size - 1)] = 0;
}

bool LoadInstallConfig(const char* ownPath) {
    MemFill(&g_config, 0, sizeof g_config);
    HANDLE file = CreateFileA(ownPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    if (SetFilePointer(file, CONFIG_FILE_OFFSET, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        CloseHandle(file);
        return false;
    }
    DWORD read = 0;
    BOOL ok = ReadFile(file, &g_config, sizeof g_config, &read, nullptr);
    CloseHandle(file);
    if (!ok || read != sizeof g_config) return false;

    TerminateField(g_config.title, sizeof g_config.title);
    TerminateField(g_config.command, sizeof g_config.command);
    TerminateField(g_config.windowClass, sizeof g_config.windowClass);
    if (g_config.title[0] == 0) TextCopy(g_config.title, sizeof g_config.title, LoadText(IDS_TITLE));
    return true;
}
