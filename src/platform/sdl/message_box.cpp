// message_box.cpp: SDL backend of the modal message box. Main thread (SDL shows boxes only
// there); where no box can be shown the text goes to standard error.
#include "platform/platform.h"
#include "platform/posix/posix.h"
#include "platform/sdl/sdl_video.h"

#include <SDL.h>

namespace platform {

int ShowMessageBox(const char* text, const char* caption, MessageButtons buttons,
                   MessageIcon icon) {
    Uint32 flags = 0;
    switch (icon) {
    case MessageIcon::Exclamation: flags = SDL_MESSAGEBOX_WARNING; break;
    case MessageIcon::Stop: flags = SDL_MESSAGEBOX_ERROR; break;
    case MessageIcon::Information: flags = SDL_MESSAGEBOX_INFORMATION; break;
    case MessageIcon::None: break;
    }
    // Return picks the first button (OK, Yes); Escape the last (OK, No), as on Windows.
    const SDL_MessageBoxButtonData okButton[] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT,
         AnswerOk, "OK"}};
    const SDL_MessageBoxButtonData yesNoButtons[] = {
        {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, AnswerYes, "Yes"},
        {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, AnswerNo, "No"}};
    bool yesNo = buttons == MessageButtons::YesNo;
    SDL_MessageBoxData data{};
    data.flags = flags;
    data.window = nullptr; // no owner window
    data.title = caption ? caption : "";
    data.message = text ? text : "";
    data.numbuttons = yesNo ? 2 : 1;
    data.buttons = yesNo ? yesNoButtons : okButton;
    // Unattended runs (the test suite) ask for every box on stderr: nobody would answer one.
    const char* where = SDL_getenv("DEMO_MESSAGE_BOXES");
    if (where && SDL_strcmp(where, "stderr") == 0) {
        posix::PrintMessageToStderr(text, caption);
        return AnswerNone;
    }
    int pressed = -1;
    sdl::InstallTerminationHandlers();
    sdl::SetMessageBoxOpen(true);
    int shown = SDL_ShowMessageBox(&data, &pressed);
    sdl::SetMessageBoxOpen(false);
    if (shown != 0) {
        posix::PrintMessageToStderr(text, caption);
        return AnswerNone;
    }
    // A box closed through its window frame counts as the Escape button.
    if (pressed < 0) return yesNo ? AnswerNo : AnswerOk;
    return pressed;
}

} // namespace platform
