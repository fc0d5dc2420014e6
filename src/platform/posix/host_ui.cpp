// Host implementations of the user-interface calls. In test mode every box
// is logged and answered by script; in console mode (valkrin-host) boxes are
// printed to stderr and the question is answered from standard input.
#include <stdio.h>

#include <string>

#include "platform/posix/host_state.h"

using host::Current;

static int AskOnTerminal(const std::string& text, const std::string& caption, UINT type) {
    fprintf(stderr, "[%s] %s\n", host::ToUtf8(caption).c_str(), host::ToUtf8(text).c_str());
    if ((type & 0x0F) != MB_YESNO) return IDOK;
    fprintf(stderr, "(y/n) ");
    char answer[16] = "";
    if (fgets(answer, sizeof answer, stdin) == nullptr) return IDYES;
    return answer[0] == 'n' || answer[0] == 'N' ? IDNO : IDYES;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    host::State& s = Current();
    s.boxes.push_back(host::BoxRecord{text, caption, type, owner});
    if (s.interactive) return AskOnTerminal(text, caption, type);
    if (!s.boxAnswers.empty()) {
        int answer = s.boxAnswers.front();
        s.boxAnswers.erase(s.boxAnswers.begin());
        return answer;
    }
    return (type & 0x0F) == MB_YESNO ? IDYES : IDOK;
}

void WINAPI InitCommonControls(void) {}
