// Windows, controls, message boxes and injected input.
#include "testkit.h"

#include "pitchkeeper_shared.h"

#include <string.h>

bool WaitUntil(bool (*predicate)(void *), void *context, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (predicate(context)) {
            return true;
        }
        if (GetTickCount() - start >= timeoutMs) {
            return false;
        }
        Sleep(20);
    }
}

HWND WaitForWindow(const char *title, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindWindowA(NULL, title);
        if (window != NULL || GetTickCount() - start >= timeoutMs) {
            return window;
        }
        Sleep(20);
    }
}

std::string ControlText(HWND parent, int controlId)
{
    char text[512] = {};
    GetDlgItemTextA(parent, controlId, text, sizeof(text));
    return text;
}

LRESULT ControlCheckState(HWND parent, int controlId)
{
    return SendDlgItemMessageA(parent, controlId, BM_GETCHECK, 0, 0);
}

LRESULT SendTrayCommand(WORD commandId, LPARAM lParam)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutA(FindWindowA(NULL, PK_WINDOW_TITLE), WM_COMMAND, commandId, lParam,
                        SMTO_NORMAL, 10000, &result);
    return (LRESULT)result;
}

struct BoxSearch {
    const char *caption;
    HWND found;
};

static BOOL CALLBACK MatchMessageBox(HWND window, LPARAM context)
{
    BoxSearch *search = (BoxSearch *)context;
    char className[64] = {};
    char caption[256] = {};
    GetClassNameA(window, className, sizeof(className));
    GetWindowTextA(window, caption, sizeof(caption));
    if (strcmp(className, "#32770") == 0 && strcmp(caption, search->caption) == 0 &&
        IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForMessageBox(const char *caption, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        BoxSearch search = {caption, NULL};
        EnumWindows(MatchMessageBox, (LPARAM)&search);
        if (search.found != NULL || GetTickCount() - start >= timeoutMs) {
            return search.found;
        }
        Sleep(20);
    }
}

// the message text is the one static control that holds text (the icon is
// a static control too, without text)
static BOOL CALLBACK FindBoxText(HWND child, LPARAM context)
{
    char className[64] = {};
    char text[512] = {};
    GetClassNameA(child, className, sizeof(className));
    GetWindowTextA(child, text, sizeof(text));
    if (lstrcmpiA(className, "Static") == 0 && text[0] != '\0') {
        *(std::string *)context = text;
        return FALSE;
    }
    return TRUE;
}

std::string MessageBoxText(HWND box)
{
    std::string text;
    EnumChildWindows(box, FindBoxText, (LPARAM)&text);
    return text;
}

static bool WindowGone(void *window)
{
    return !IsWindow((HWND)window);
}

void DismissMessageBox(HWND box)
{
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    WaitUntil(WindowGone, box, 5000);
}

std::string ReadAndDismissMessageBox(const char *caption, DWORD timeoutMs)
{
    HWND box = WaitForMessageBox(caption, timeoutMs);
    if (box == NULL) {
        return "";
    }
    std::string text = MessageBoxText(box);
    DismissMessageBox(box);
    return text;
}

void InjectMouseButton(DWORD flags)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof(input));
}

void InjectLeftClick()
{
    InjectMouseButton(MOUSEEVENTF_LEFTDOWN);
    InjectMouseButton(MOUSEEVENTF_LEFTUP);
}
