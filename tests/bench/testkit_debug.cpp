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

// A writer takes the buffer (DBWIN_BUFFER_READY), fills it and then signals
// DBWIN_DATA_READY. A process that ends between the two, such as a program
// that exits while one of its threads writes a line, never signals: waiting
// for it without end would leave every later writer in every process
// waiting 10 s for the buffer and then dropping its line. So the buffer is
// handed out again when no data came for this long; a live writer needs
// microseconds between the two steps.
const DWORD WriterGoneAfterMs = 500;

void ReadDebugStrings()
{
    HANDLE waits[2] = {Capture.dataReady, Capture.stopEvent};
    for (;;) {
        SetEvent(Capture.bufferReady);
        DWORD woken = WaitForMultipleObjects(2, waits, FALSE, WriterGoneAfterMs);
        if (woken == WAIT_TIMEOUT) {
            continue;
        }
        if (woken != WAIT_OBJECT_0) {
            return;
        }
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

bool WaitForDebugLine(const std::string &text, DWORD timeoutMs)
{
    struct Wanted {
        const std::string *text;
    } wanted = {&text};
    return WaitUntil(
        [](void *context) { return CountDebugLines(*((Wanted *)context)->text) > 0; }, &wanted,
        timeoutMs);
}
