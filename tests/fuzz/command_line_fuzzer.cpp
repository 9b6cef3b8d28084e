// The tray program's command-line handling, compiled for the host against
// the recording Win32 fake, fed random argument vectors. Every argument and
// the vector itself are allocated to their exact size, so a read past either
// stops the run under AddressSanitizer.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "console_pause.h"
#include "fake_win32.h"
#include "fuzz_check.h"
#include "pitchkeeper_shared.h"
#include "status_request.h"
#include "window_proc.h"

namespace {

constexpr size_t kMaxArguments = 12;
constexpr size_t kQuotedBytes = 31;  // what a box may quote of an argument

std::vector<int> rangeWarnings;
int pauses = 0;   // calls of the console's wait for a key
int statusRequests = 0;

std::wstring Known(FuzzedDataProvider& in)
{
    static const wchar_t* const kTokens[] = {L"-f",   L"-d",   L"-stop",   L"-speaker", L"-buzzer", L"-on",
                                             L"-off", L"-ras", L"-notras", L"-?",       L"-F",      L"--stop",
                                             L"-stop2", L"-",  L"f",       L"-on ",    L"-status", L"json"};
    return in.PickValueInArray(kTokens);
}

std::wstring Number(FuzzedDataProvider& in)
{
    static const wchar_t* const kAround[] = {L"", L" ", L"\t", L"+", L"abc", L"12", L"x", L"\u00e9"};
    const std::wstring number = std::to_wstring(in.ConsumeBool() ? in.ConsumeIntegralInRange<long long>(-20, 12000)
                                                                 : in.ConsumeIntegral<long long>());
    return in.PickValueInArray(kAround) + number + in.PickValueInArray(kAround);
}

// UTF-16 code units, lone surrogates included; no NUL inside an argument
std::wstring Units(FuzzedDataProvider& in)
{
    std::wstring text;
    const size_t length = in.ConsumeIntegralInRange<size_t>(0, 48);
    for (size_t i = 0; i < length && in.remaining_bytes() > 0; ++i) {
        const wchar_t unit = in.ConsumeBool() ? static_cast<wchar_t>(in.ConsumeIntegralInRange(0x20, 0x7E))
                                              : static_cast<wchar_t>(in.ConsumeIntegral<uint16_t>());
        text += unit == 0 ? L'?' : unit;
    }
    return text;
}

std::vector<std::wstring> Arguments(FuzzedDataProvider& in)
{
    std::vector<std::wstring> arguments{L"C:\\DALQ\\Pitchkeeper\\Pitchkeeper_x64.exe"};
    const size_t count = in.ConsumeIntegralInRange<size_t>(1, kMaxArguments);
    for (size_t i = 0; i < count; ++i) {
        switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0:
        case 1:
            arguments.push_back(Known(in));
            break;
        case 2:
            arguments.push_back(Number(in));
            break;
        default:
            arguments.push_back(Units(in));
        }
    }
    return arguments;
}

// the argument as the fake's code page converts it
std::string Converted(const std::wstring& argument)
{
    const int size = WideCharToMultiByte(CP_ACP, 0, argument.data(), static_cast<int>(argument.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, argument.data(), static_cast<int>(argument.size()), bytes.data(), size, nullptr,
                        nullptr);
    return bytes;
}

size_t SequenceLength(unsigned char lead)
{
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// as much of the argument as fits 31 bytes, cut between characters
bool IsQuoteOf(const std::string& quoted, const std::wstring& argument)
{
    const std::string full = Converted(argument);
    if (quoted.size() > kQuotedBytes || full.compare(0, quoted.size(), quoted) != 0) {
        return false;
    }
    return quoted.size() == full.size() ||
           quoted.size() + SequenceLength(static_cast<unsigned char>(full[quoted.size()])) > kQuotedBytes;
}

bool QuotesAnArgument(const std::string& text, const std::vector<std::wstring>& arguments)
{
    for (const char* ending : {" is not a value!!!", " is a wrong argument!!!", " needs a value!!!"}) {
        const size_t length = std::strlen(ending);
        if (text.size() < length || text.compare(text.size() - length, length, ending) != 0) {
            continue;
        }
        const std::string quoted = text.substr(0, text.size() - length);
        for (size_t i = 1; i < arguments.size(); ++i) {
            if (IsQuoteOf(quoted, arguments[i])) {
                return true;
            }
        }
    }
    return false;
}

bool IsCommandWithItsValue(const win32::SentMessage& sent)
{
    switch (sent.wParam) {
    case CMD_SET_FREQUENCY:
        return sent.lParam >= PK_FREQUENCY_MIN && sent.lParam <= PK_FREQUENCY_MAX;
    case CMD_SET_DURATION:
        return sent.lParam >= PK_DURATION_MIN_MS && sent.lParam <= PK_DURATION_MAX_MS;
    case CMD_STOP:
    case CMD_SWITCH_TO_SPEAKER:
    case CMD_SWITCH_TO_BUZZER:
    case CMD_BEEP_ON:
    case CMD_BEEP_OFF:
    case CMD_RUN_AT_STARTUP_ON:
    case CMD_RUN_AT_STARTUP_OFF:
        return sent.lParam == 0;
    default:
        return false;
    }
}

void CheckSent()
{
    for (const win32::SentMessage& sent : win32::Sent()) {
        Require(sent.window == win32::ResidentWindow(), "commands go to the resident window");
        Require(sent.message == WM_COMMAND, "only window commands are sent");
        Require(IsCommandWithItsValue(sent), "a known command id, with a value in its range");
    }
}

void CheckBoxes(const std::vector<std::wstring>& arguments)
{
    for (const win32::Box& box : win32::Boxes()) {
        Require(box.owner == win32::ResidentWindow(), "a box is owned by the resident window when there is one");
        Require(box.caption == "Warning" && box.type == (MB_OK | MB_ICONWARNING), "a warning box");
        Require(QuotesAnArgument(box.text, arguments), "a box quotes an argument, cut between characters");
    }
    for (int kind : rangeWarnings) {
        Require(kind == RangeWarningFrequency || kind == RangeWarningDuration, "a known range warning");
    }
}

void CheckHelp(const std::vector<std::wstring>& arguments)
{
    const bool help = arguments.size() == 2 && arguments[1] == L"-?";
    Require(win32::ConsoleOpened() == help, "a console only for -? alone");
    Require(win32::ShellCommands().empty(), "no command interpreter is ever started");
    Require(pauses == (help ? 1 : 0), "the console waits for a key only after the help");
    if (help) {
        const std::string text = win32::ConsoleText();
        Require(text.rfind("DALQ Pitchkeeper", 0) == 0, "the help starts with the program's name");
        Require(std::count(text.begin(), text.end(), '\n') == 14, "the help has fourteen lines");
        Require(win32::Sent().empty() && win32::Boxes().empty(), "the help sends nothing");
    }
}

// -status first hands the whole line to the status request, and nothing
// else happens
void CheckStatus(const std::vector<std::wstring>& arguments)
{
    const bool status = arguments[1] == L"-status";
    Require(statusRequests == (status ? 1 : 0), "-status first asks for the status once, nowhere else");
    if (status) {
        Require(win32::Sent().empty() && win32::Boxes().empty(), "a status request sends no command");
    }
}

}  // namespace

// the request itself talks to the resident over messages the fake has not
int RunStatusRequest(int, wchar_t**)
{
    ++statusRequests;
    return 0;
}

// the range boxes come from the window procedure, which is not built for the host
void ShowRangeWarning(int kind)
{
    rangeWarnings.push_back(kind);
}

// the wait for a key reads the console, which the fake has not
void PauseForAnyKey(FILE*)
{
    ++pauses;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    win32::Reset();
    rangeWarnings.clear();
    pauses = 0;
    statusRequests = 0;
    win32::SetResidentWindow(in.ConsumeBool());
    const std::vector<std::wstring> arguments = Arguments(in);

    // each argument and the vector exactly as long as they are, no null after the last
    const int argc = static_cast<int>(arguments.size());
    std::vector<std::vector<wchar_t>> storage;
    std::vector<wchar_t*> argv(arguments.size());
    for (size_t i = 0; i < arguments.size(); ++i) {
        storage.emplace_back(arguments[i].c_str(), arguments[i].c_str() + arguments[i].size() + 1);
        argv[i] = storage.back().data();
    }
    Require(RunCommandLine(argc, argv.data()) == 0, "the exit code is always 0");

    CheckSent();
    CheckBoxes(arguments);
    CheckHelp(arguments);
    CheckStatus(arguments);
    const size_t events = win32::Sent().size() + win32::Boxes().size() + rangeWarnings.size();
    Require(events <= arguments.size() - 1, "at most one command or box per argument");
    return 0;
}
