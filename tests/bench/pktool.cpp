// Command-line face of the test kit, for shell scripts that drive the
// program from outside (tools/run, screenshots, installer tests).
//   pktool wait-window TITLE [MS]     exit 0 once the window exists
//   pktool visible TITLE              prints 1 or 0
//   pktool control-text TITLE ID      prints the control's text
//   pktool check-state TITLE ID       prints the button's check state
//   pktool press left|right           injects a press and release
//   pktool msgbox CAPTION [MS]        prints the box's text, presses OK
//   pktool command ID [LPARAM]        sends WM_COMMAND to the resident window
#include "testkit.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static DWORD TimeoutArgument(int argc, char **argv, int index)
{
    return argc > index ? (DWORD)strtoul(argv[index], NULL, 10) : 10000;
}

static int PrintLine(const std::string &text)
{
    printf("%s\n", text.c_str());
    return 0;
}

static int Press(const char *button)
{
    bool left = strcmp(button, "left") == 0;
    InjectMouseButton(left ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_RIGHTDOWN);
    InjectMouseButton(left ? MOUSEEVENTF_LEFTUP : MOUSEEVENTF_RIGHTUP);
    return 0;
}

static int MessageBoxCommand(const char *caption, DWORD timeoutMs)
{
    HWND box = WaitForMessageBox(caption, timeoutMs);
    if (box == NULL) {
        fprintf(stderr, "pktool: no message box \"%s\"\n", caption);
        return 1;
    }
    PrintLine(MessageBoxText(box));
    DismissMessageBox(box);
    return 0;
}

int main(int argc, char **argv)
{
    const char *verb = argc > 1 ? argv[1] : "";
    if (strcmp(verb, "wait-window") == 0 && argc > 2) {
        return WaitForWindow(argv[2], TimeoutArgument(argc, argv, 3)) != NULL ? 0 : 1;
    }
    if (strcmp(verb, "visible") == 0 && argc > 2) {
        return PrintLine(IsWindowVisible(FindWindowA(NULL, argv[2])) ? "1" : "0");
    }
    if (strcmp(verb, "control-text") == 0 && argc > 3) {
        return PrintLine(ControlText(FindWindowA(NULL, argv[2]), atoi(argv[3])));
    }
    if (strcmp(verb, "check-state") == 0 && argc > 3) {
        return PrintLine(std::to_string(ControlCheckState(FindWindowA(NULL, argv[2]), atoi(argv[3]))));
    }
    if (strcmp(verb, "press") == 0 && argc > 2) {
        return Press(argv[2]);
    }
    if (strcmp(verb, "msgbox") == 0 && argc > 2) {
        return MessageBoxCommand(argv[2], TimeoutArgument(argc, argv, 3));
    }
    if (strcmp(verb, "command") == 0 && argc > 2) {
        SendTrayCommand((WORD)atoi(argv[2]), argc > 3 ? atol(argv[3]) : 0);
        return 0;
    }
    fprintf(stderr, "usage: pktool wait-window|visible|control-text|check-state|press|msgbox|command ...\n");
    return 2;
}
