#include "command_line.h"

#include "console_pause.h"
#include "pitchkeeper_shared.h"
#include "status_request.h"
#include "window_proc.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct ValueOption {
    const wchar_t *Name;
    WORD CommandId;
    long Minimum;
    long Maximum;
    RangeWarningKind RangeWarning;
};

struct FlagOption {
    const wchar_t *Name;
    WORD CommandId;
};

static const ValueOption ValueOptions[] = {
    {L"-f", CMD_SET_FREQUENCY, PK_FREQUENCY_MIN, PK_FREQUENCY_MAX, RangeWarningFrequency},
    {L"-d", CMD_SET_DURATION, PK_DURATION_MIN_MS, PK_DURATION_MAX_MS, RangeWarningDuration},
};

static const FlagOption FlagOptions[] = {
    {L"-stop", CMD_STOP},
    {L"-speaker", CMD_SWITCH_TO_SPEAKER},
    {L"-buzzer", CMD_SWITCH_TO_BUZZER},
    {L"-on", CMD_BEEP_ON},
    {L"-off", CMD_BEEP_OFF},
    {L"-ras", CMD_RUN_AT_STARTUP_ON},
    {L"-notras", CMD_RUN_AT_STARTUP_OFF},
};

// each line but the last carries ten trailing spaces
static const char *const HelpLines[] = {
    "DALQ Pitchkeeper          ",
    "Table Of Command Line Parameters          ",
    "--------------------------------------------------          ",
    " -f value : Change frequency with the value.          ",
    " -d value : Change duration with the value.          ",
    " -stop    : Stop Pitchkeeper.          ",
    " -buzzer  : Switch output device to buzzer.          ",
    " -speaker : Switch output device to speaker.          ",
    " -on      : Turn on beep.          ",
    " -off     : Turn off beep.          ",
    " -ras     : Make Pitchkeeper run at startup.          ",
    " -notras  : Make Pitchkeeper not run at startup.          ",
    " -status  : Report what Pitchkeeper hears (-status json: as JSON).          ",
    " -?       : Help.",
};

// what a box may quote of an argument: 31 bytes of text and the zero
const int QuotedArgumentSize = 32;

static int PrintHelp();
static int HandleArgument(int index, int argc, wchar_t **argv);
static void HandleValue(const ValueOption &option, const wchar_t *value);
static void SendToResident(WORD commandId, LPARAM lParam);
static void ShowArgumentWarning(const char *format, const wchar_t *argument);
static void QuoteArgument(const wchar_t *argument, char *quoted);

int RunCommandLine(int argc, wchar_t **argv)
{
    if (argc == 2 && wcscmp(argv[1], L"-?") == 0) {
        return PrintHelp();
    }
    if (wcscmp(argv[1], L"-status") == 0) {
        return RunStatusRequest(argc, argv);
    }
    // errors are reported and the remaining arguments still handled
    for (int index = 1; index < argc; index++) {
        index = HandleArgument(index, argc, argv);
    }
    return 0;
}

// A GUI program has no console of its own, so the table goes to a new one,
// which stays until a key is pressed. The runtime bound its streams before
// the console existed, hence a stream on the console's output handle; when
// the starter handed over its own standard handles, those are kept.
static int PrintHelp()
{
    AllocConsole();
    int descriptor = _open_osfhandle((intptr_t)GetStdHandle(STD_OUTPUT_HANDLE), _O_TEXT);
    FILE *console = _fdopen(descriptor, "w");
    if (console == NULL) {
        return 0;
    }
    setvbuf(console, NULL, _IONBF, 0);
    for (const char *line : HelpLines) {
        fprintf(console, "%s\n", line);
    }
    PauseForAnyKey(console);
    return 0;
}

// Returns the index of the last argument used, so a value is not read
// again as an option.
static int HandleArgument(int index, int argc, wchar_t **argv)
{
    const wchar_t *argument = argv[index];
    for (const ValueOption &option : ValueOptions) {
        if (wcscmp(argument, option.Name) != 0) {
            continue;
        }
        if (index + 1 >= argc) {
            ShowArgumentWarning("%s needs a value!!!", argument);
            return index;
        }
        HandleValue(option, argv[index + 1]);
        return index + 1;
    }
    for (const FlagOption &option : FlagOptions) {
        if (wcscmp(argument, option.Name) == 0) {
            SendToResident(option.CommandId, 0);
            return index;
        }
    }
    if (wcscmp(argument, L"-?") != 0) {
        ShowArgumentWarning("%s is a wrong argument!!!", argument);
    }
    return index;
}

// Read as _wtoi reads (white space, sign, digits up to the first other
// character, 0 when there are none); too long a number saturates rather
// than wrapping round into the range.
static void HandleValue(const ValueOption &option, const wchar_t *value)
{
    long number = wcstol(value, NULL, 10);
    if (number >= option.Minimum && number <= option.Maximum) {
        SendToResident(option.CommandId, number);
    } else if (number == 0) {
        ShowArgumentWarning("%s is not a value!!!", value);
    } else {
        ShowRangeWarning(option.RangeWarning);
    }
}

// The window is looked up for every message: an earlier command may
// have stopped the resident instance.
static void SendToResident(WORD commandId, LPARAM lParam)
{
    SendMessageA(FindWindowA(NULL, PK_WINDOW_TITLE), WM_COMMAND, commandId, lParam);
}

// Owned by the resident window when there is one, like the range boxes.
static void ShowArgumentWarning(const char *format, const wchar_t *argument)
{
    char quoted[QuotedArgumentSize];
    QuoteArgument(argument, quoted);
    char text[128];
    snprintf(text, sizeof(text), format, quoted);
    MessageBoxA(FindWindowA(NULL, PK_WINDOW_TITLE), text, "Warning", MB_OK | MB_ICONWARNING);
}

// Converts character by character, so a long argument is cut between
// characters and never inside a multibyte sequence.
static void QuoteArgument(const wchar_t *argument, char *quoted)
{
    int used = 0;
    while (*argument != L'\0') {
        // a surrogate pair is one character
        int units = (IS_HIGH_SURROGATE(argument[0]) && IS_LOW_SURROGATE(argument[1])) ? 2 : 1;
        char bytes[8];
        int length = WideCharToMultiByte(CP_ACP, 0, argument, units, bytes, sizeof(bytes), NULL, NULL);
        if (length <= 0 || used + length > QuotedArgumentSize - 1) {
            break;
        }
        memcpy(quoted + used, bytes, length);
        used += length;
        argument += units;
    }
    quoted[used] = '\0';
}
