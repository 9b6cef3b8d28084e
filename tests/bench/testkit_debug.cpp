// Captures other processes' OutputDebugStringA the way a debug viewer does:
// through the DBWIN_BUFFER section and its two events.
#include "testkit.h"

#include <stdlib.h>
#include <string.h>

#include <mutex>
#include <thread>

namespace {
struct DebugCapture {
    HANDLE bufferReady = NULL;
    HANDLE dataReady = NULL;
    HANDLE section = NULL;
    const char *view = NULL;
    HANDLE stopEvent = NULL;
    std::thread reader;
    std::mutex linesLock;
    std::vector<DebugRecord> lines;
};
DebugCapture Capture;

// Every writer holds DBWinMutex while it waits for the buffer
// (DBWIN_BUFFER_READY), fills it with its process id and text, and signals
// DBWIN_DATA_READY. The buffer goes out again only after its text is read:
// a second writer let in while the first still fills it, or before its text
// is read, overwrites that line.
// A writer whose process ends between taking the buffer and signalling, as
// a program's does that exits while one of its threads writes a line, takes
// the buffer with it; left so, every later writer would wait 10 s for it and
// drop its line. This is how often the reader looks for that.
const DWORD LostBufferCheckMs = 500;

void ReadRecord()
{
    // taken first, so that benchmarks see when the string arrived
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    // the section starts with the sender's process id, then the text
    DebugRecord record = {now.QuadPart, *(const DWORD *)Capture.view,
                          std::string(Capture.view + sizeof(DWORD),
                                      strnlen(Capture.view + sizeof(DWORD), 4096 - sizeof(DWORD)))};
    std::lock_guard<std::mutex> guard(Capture.linesLock);
    Capture.lines.push_back(record);
}

// Only the writer holding the mutex can wait for the buffer, so a writer
// waiting while the buffer is out and no text came means the buffer is
// lost. A pulse reaches only such a waiter: a live writer that has the
// buffer, or no writer at all, is left as it is. A pulse would also clear a
// buffer that is in, hence the first look.
void RecoverLostBuffer()
{
    if (WaitForSingleObject(Capture.bufferReady, 0) == WAIT_OBJECT_0) {
        SetEvent(Capture.bufferReady);
    } else if (WaitForSingleObject(Capture.dataReady, 0) == WAIT_OBJECT_0) {
        ReadRecord();
        SetEvent(Capture.bufferReady);
    } else {
        PulseEvent(Capture.bufferReady);
    }
}

void ReadDebugStrings()
{
    HANDLE waits[2] = {Capture.dataReady, Capture.stopEvent};
    SetEvent(Capture.bufferReady);
    for (;;) {
        DWORD woken = WaitForMultipleObjects(2, waits, FALSE, LostBufferCheckMs);
        if (woken == WAIT_OBJECT_0) {
            ReadRecord();
            SetEvent(Capture.bufferReady);
        } else if (woken == WAIT_TIMEOUT) {
            RecoverLostBuffer();
        } else {
            return;
        }
    }
}
}

void StartDebugCapture()
{
    if (Capture.view != NULL) {
        return;
    }
    Capture.bufferReady = CreateEventA(NULL, FALSE, FALSE, "DBWIN_BUFFER_READY");
    Capture.dataReady = CreateEventA(NULL, FALSE, FALSE, "DBWIN_DATA_READY");
    Capture.section =
        CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER");
    Capture.view = (const char *)MapViewOfFile(Capture.section, FILE_MAP_READ, 0, 0, 4096);
    Capture.stopEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    Capture.reader = std::thread(ReadDebugStrings);
    // the reader thread must be joined before the process exits
    atexit(StopDebugCapture);
}

void StopDebugCapture()
{
    if (Capture.view == NULL) {
        return;
    }
    SetEvent(Capture.stopEvent);
    Capture.reader.join();
    UnmapViewOfFile(Capture.view);
    Capture.view = NULL;
    CloseHandle(Capture.section);
    CloseHandle(Capture.dataReady);
    CloseHandle(Capture.bufferReady);
    CloseHandle(Capture.stopEvent);
}

std::vector<DebugRecord> CapturedDebugRecords()
{
    std::lock_guard<std::mutex> guard(Capture.linesLock);
    return Capture.lines;
}

std::vector<std::string> CapturedDebugLines()
{
    std::vector<std::string> lines;
    for (const DebugRecord &record : CapturedDebugRecords()) {
        lines.push_back(record.text);
    }
    return lines;
}

void ClearCapturedDebugLines()
{
    std::lock_guard<std::mutex> guard(Capture.linesLock);
    Capture.lines.clear();
}

int CountDebugLines(const std::string &text)
{
    int count = 0;
    for (const std::string &line : CapturedDebugLines()) {
        count += line == text ? 1 : 0;
    }
    return count;
}

bool WaitForDebugLines(const std::string &text, int count, DWORD timeoutMs)
{
    struct Wanted {
        const std::string *text;
        int count;
    } wanted = {&text, count};
    return WaitUntil(
        [](void *context) {
            const Wanted &wanted = *(const Wanted *)context;
            return CountDebugLines(*wanted.text) >= wanted.count;
        },
        &wanted, timeoutMs);
}

bool WaitForDebugLine(const std::string &text, DWORD timeoutMs)
{
    return WaitForDebugLines(text, 1, timeoutMs);
}
