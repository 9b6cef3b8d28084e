// Host stand-in for the Win32 headers: only the types, constants and calls
// that the tray program's command-line and settings code use. The calls are
// implemented by the recording fake in tests/fuzz/win32 (fake_win32.h).
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef unsigned char BYTE;
typedef BYTE* LPBYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef DWORD* LPDWORD;
typedef int32_t LONG;
typedef int64_t LONGLONG;
typedef unsigned short USHORT;
typedef unsigned int UINT;
typedef int BOOL;
typedef BOOL* LPBOOL;
typedef char CHAR;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef const wchar_t* LPCWSTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef void* HANDLE;
typedef struct FakeWindow* HWND;
typedef struct FakeKey* HKEY;
typedef HKEY* PHKEY;
typedef struct FakeInstance* HINSTANCE;
typedef struct FakeHook* HHOOK;
typedef struct FakeMenu* HMENU;
typedef struct FakeIcon* HICON;
typedef DWORD REGSAM;
typedef struct FakeSecurityAttributes* LPSECURITY_ATTRIBUTES;

#define WINAPI
#define CALLBACK
#define TRUE 1
#define FALSE 0

#define WM_USER 0x0400
#define WM_COMMAND 0x0111
#define BM_SETCHECK 0x00F1
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define MB_OK 0x00000000u
#define MB_ICONWARNING 0x00000030u
#define SW_HIDE 0
#define MAX_PATH 260
#define CP_ACP 0
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define MAKEINTRESOURCEA(id) ((LPSTR)(uintptr_t)(WORD)(id))

#define HIGH_SURROGATE_START 0xD800
#define HIGH_SURROGATE_END 0xDBFF
#define LOW_SURROGATE_START 0xDC00
#define LOW_SURROGATE_END 0xDFFF
#define IS_HIGH_SURROGATE(c) ((c) >= HIGH_SURROGATE_START && (c) <= HIGH_SURROGATE_END)
#define IS_LOW_SURROGATE(c) ((c) >= LOW_SURROGATE_START && (c) <= LOW_SURROGATE_END)

#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define KEY_READ 0x00020019u
#define KEY_WRITE 0x00020006u
#define REG_OPTION_NON_VOLATILE 0
#define REG_NONE 0
#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_MORE_DATA 234L

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HWND FindWindowA(LPCSTR className, LPCSTR title);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
BOOL CheckRadioButton(HWND dialog, int first, int last, int checked);
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
UINT WinExec(LPCSTR commandLine, UINT show);
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
BOOL AllocConsole();
HANDLE GetStdHandle(DWORD which);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR bytes, int byteCount,
                        LPCSTR defaultChar, LPBOOL usedDefault);

LONG RegOpenKeyA(HKEY root, LPCSTR path, PHKEY key);
LONG RegOpenKeyExA(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY key);
LONG RegCreateKeyExA(HKEY root, LPCSTR path, DWORD reserved, LPSTR className, DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD disposition);
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size);
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LONG RegCloseKey(HKEY key);
