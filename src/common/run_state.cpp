#include "common/run_state.h"

RunState g_run;
WCHAR g_textBuffer[TEXT_BUFFER_SIZE];
