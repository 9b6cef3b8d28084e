#include "status_answer.h"

#include "app_state.h"
#include "status_snapshot.h"

#include <string.h>

// How long the asking start may take to take the answer; the main thread
// serves the hook meanwhile, as in any sent message's wait.
const UINT AnswerTimeoutMs = 2000;

static bool IsSeen(const DigitizerDevice &device)
{
    return device.Counts.Reports > 0 || device.Name[0] != '\0';
}

static void CopyDigitizers(StatusSnapshot &snapshot)
{
    for (const DigitizerDevice &device : AppState.Digitizers) {
        if (!IsSeen(device)) {
            continue;
        }
        StatusDigitizer &seen = snapshot.Digitizers[snapshot.DigitizerCount++];
        memcpy(seen.Name, device.Name, sizeof(seen.Name));
        seen.Name[sizeof(seen.Name) - 1] = '\0';
        seen.Type = device.Type;
        seen.Style = device.Style;
        seen.Present = device.Handle != NULL;
        seen.Counts = device.Counts;
    }
}

static void CopyCounts(StatusSnapshot &snapshot)
{
    strncpy(snapshot.Version, PK_VERSION, sizeof(snapshot.Version) - 1);
    snapshot.BeepEnabled = AppState.BeepEnabled;
    snapshot.ActiveOutput = AppState.ActiveOutput;
    snapshot.HookSet = AppState.MouseHook != NULL;
    snapshot.BuzzerState = AppState.BuzzerState;
    snapshot.BuzzerError = AppState.BuzzerError;
    snapshot.HookRenewals = AppState.HookRenewals;
    snapshot.HookLosses = AppState.HookLosses;
    const ToneCounters &tones = AppState.Tones;
    snapshot.Presses = tones.Presses;
    snapshot.Started = tones.Started;
    snapshot.Dropped = tones.Dropped;
    snapshot.Failed = tones.Failed;
    snapshot.LastError = tones.LastError;
    for (int source = 0; source < ToneSourceCount; ++source) {
        snapshot.LatencyRecorded[source] = tones.Latency[source].Recorded;
        memcpy(snapshot.LatencyMicroseconds[source], tones.Latency[source].Microseconds,
               sizeof(snapshot.LatencyMicroseconds[source]));
    }
    CopyDigitizers(snapshot);
}

// Any process in the session that may send this window messages could name
// any window: the counts go only to a start of this program, never to a
// window whose program might read the message as something else.
static bool RunsThisProgram(HWND window)
{
    DWORD processId = 0;
    if (GetWindowThreadProcessId(window, &processId) == 0) {
        return false;
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == NULL) {
        return false;
    }
    char theirs[MAX_PATH] = {};
    DWORD size = sizeof(theirs);
    BOOL named = QueryFullProcessImageNameA(process, 0, theirs, &size);
    CloseHandle(process);
    char ours[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(NULL, ours, sizeof(ours));
    return named && length > 0 && length < sizeof(ours) && lstrcmpiA(theirs, ours) == 0;
}

// The system copies the answer into the other process: nothing the asker
// sends decides where this process writes or how much it reads.
void AnswerStatusRequest(HWND replyWindow)
{
    // a request sent while an answer waits would nest without end
    static bool answering = false;
    if (answering || !RunsThisProgram(replyWindow)) {
        return;
    }
    answering = true;
    static StatusSnapshot snapshot;
    snapshot = StatusSnapshot{};
    CopyCounts(snapshot);
    COPYDATASTRUCT answer = {StatusSnapshotTag, sizeof(snapshot), &snapshot};
    DWORD_PTR result = 0;
    SendMessageTimeoutA(replyWindow, WM_COPYDATA, (WPARAM)AppState.MainWindow, (LPARAM)&answer,
                        SMTO_ABORTIFHUNG, AnswerTimeoutMs, &result);
    answering = false;
}
