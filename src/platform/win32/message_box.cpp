// message_box.cpp: modal message boxes through USER32. Any thread; blocks until answered.
#include "platform/platform.h"

#include <windows.h>

#include <cstdio>

namespace platform {

int ShowMessageBox(const char* text, const char* caption, MessageButtons buttons,
                   MessageIcon icon) {
    UINT style = buttons == MessageButtons::YesNo ? MB_YESNO : MB_OK;
    switch (icon) {
    case MessageIcon::None: break;
    case MessageIcon::Exclamation: style |= MB_ICONEXCLAMATION; break;
    case MessageIcon::Stop: style |= MB_ICONSTOP; break;
    case MessageIcon::Information: style |= MB_ICONINFORMATION; break;
    }
    // The box belongs to the window that has the keyboard focus, if any (none while the window
    // is being created or after it is gone): owned, it stays above a full-screen show instead of
    // opening behind it.
    int answer = MessageBoxA(GetFocus(), text ? text : "", caption ? caption : "", style);
    if (answer == 0) {
        std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
        return AnswerNone;
    }
    return answer;
}

} // namespace platform
