// Windows, controls, message boxes and injected input.
#include "testkit.h"

#include "pitchkeeper_shared.h"

#include <shellapi.h>
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

// The shell knows an icon by its window and id alone.
static NOTIFYICONDATAA TrayIconOf(HWND window)
{
    NOTIFYICONDATAA icon = {};
    icon.cbSize = sizeof(icon);
    icon.hWnd = window;
    icon.uID = 0;
    return icon;
}

bool TrayIconExists(HWND window)
{
    NOTIFYICONDATAA icon = TrayIconOf(window);
    return Shell_NotifyIconA(NIM_MODIFY, &icon) != FALSE;
}

bool ForgetTrayIcon(HWND window)
{
    NOTIFYICONDATAA icon = TrayIconOf(window);
    return Shell_NotifyIconA(NIM_DELETE, &icon) != FALSE;
}

HDESK OpenDesktopWithoutHookControl(BOOL inheritable)
{
    const ACCESS_MASK everythingButHooks =
        STANDARD_RIGHTS_REQUIRED | DESKTOP_READOBJECTS | DESKTOP_CREATEWINDOW | DESKTOP_CREATEMENU |
        DESKTOP_ENUMERATE | DESKTOP_WRITEOBJECTS | DESKTOP_SWITCHDESKTOP;
    return OpenDesktopA("Default", 0, inheritable, everythingButHooks);
}

// Window texts are read without a message: the window's thread may be
// waiting for the reading one, and a WM_GETTEXT would then never be answered.
static std::string WindowTextOf(HWND window)
{
    wchar_t wide[512] = {};
    InternalGetWindowText(window, wide, 512);
    char text[512] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof(text), NULL, NULL);
    return text;
}

static std::string ClassNameOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

struct BoxSearch {
    const char *caption;
    HWND found;
};

static BOOL CALLBACK MatchMessageBox(HWND window, LPARAM context)
{
    BoxSearch *search = (BoxSearch *)context;
    if (ClassNameOf(window) == "#32770" && WindowTextOf(window) == search->caption &&
        IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindMessageBox(const char *caption)
{
    BoxSearch search = {caption, NULL};
    EnumWindows(MatchMessageBox, (LPARAM)&search);
    return search.found;
}

HWND WaitForMessageBox(const char *caption, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND box = FindMessageBox(caption);
        if (box != NULL || GetTickCount() - start >= timeoutMs) {
            return box;
        }
        Sleep(20);
    }
}

// the message text is the one static control that holds text (the icon is
// a static control too, without text)
static BOOL CALLBACK FindBoxText(HWND child, LPARAM context)
{
    if (lstrcmpiA(ClassNameOf(child).c_str(), "Static") == 0 && !WindowTextOf(child).empty()) {
        *(std::string *)context = WindowTextOf(child);
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

HWND OpenMenuWindow()
{
    HWND menu = FindWindowA("#32768", NULL);
    return menu != NULL && IsWindowVisible(menu) ? menu : NULL;
}

void InjectMouseButton(DWORD flags, ULONG_PTR extraInfo)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    input.mi.dwExtraInfo = extraInfo;
    SendInput(1, &input, sizeof(input));
}

void InjectLeftClick()
{
    InjectMouseButton(MOUSEEVENTF_LEFTDOWN);
    InjectMouseButton(MOUSEEVENTF_LEFTUP);
}
