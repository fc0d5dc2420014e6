#include "common/run_state.h"

RunState g_run;
char g_textBuffer[TEXT_BUFFER_SIZE];
