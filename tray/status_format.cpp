#include "status_format.h"

#include "buzzer_fallback.h"

#include <algorithm>
#include <stdarg.h>
#include <stdio.h>

struct LatencyFigures {
    LONG Count;        // samples among the last LatencySamples; 0: none yet
    double LastMs;
    double MedianMs;
};

// the upper middle of an even count, so that every figure is a measured one
static LatencyFigures FiguresOf(const StatusSnapshot &snapshot, int source)
{
    LatencyFigures figures = {};
    LONG recorded = snapshot.LatencyRecorded[source];
    if (recorded <= 0) {
        return figures;
    }
    const LONG *samples = snapshot.LatencyMicroseconds[source];
    figures.Count = std::min<LONG>(recorded, LatencySamples);
    LONG sorted[LatencySamples];
    std::copy(samples, samples + figures.Count, sorted);
    std::nth_element(sorted, sorted + figures.Count / 2, sorted + figures.Count);
    figures.LastMs = samples[(recorded - 1) % LatencySamples] / 1000.0;
    figures.MedianMs = sorted[figures.Count / 2] / 1000.0;
    return figures;
}

static void Append(StatusReport &report, const char *format, ...)
{
    if (report.Used >= sizeof(report.Text) - 1) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    int written = vsnprintf(report.Text + report.Used, sizeof(report.Text) - report.Used, format,
                            arguments);
    va_end(arguments);
    if (written > 0) {
        report.Used = std::min(report.Used + (size_t)written, sizeof(report.Text) - 1);
    }
}

static const char *KindName(BYTE type)
{
    return type == DigitizerTypePen ? "pen" : "touch";
}

static const char *StyleName(BYTE style)
{
    static const char *const names[] = {"unknown", "parallel", "hybrid", "serial", "single-touch",
                                        "pen"};
    return style < sizeof(names) / sizeof(names[0]) ? names[style] : "unknown";
}

static const char *OutputName(const StatusSnapshot &snapshot)
{
    return snapshot.ActiveOutput == 1 ? "buzzer" : "speaker";
}

static bool FallsBackToSpeaker(const StatusSnapshot &snapshot)
{
    return snapshot.ActiveOutput == 1 && snapshot.BuzzerState == BuzzerCannotOpen;
}

// --- text ---

static void AppendBuzzerLine(const StatusSnapshot &snapshot, StatusReport &report)
{
    if (snapshot.BuzzerState == BuzzerCannotOpen) {
        Append(report, "Buzzer:      cannot be opened (error %lu)%s\r\n", snapshot.BuzzerError,
               FallsBackToSpeaker(snapshot) ? ": tones go through the speaker" : "");
    } else {
        Append(report, "Buzzer:      %s\r\n",
               snapshot.BuzzerState == BuzzerOpens ? "opens" : "not tried since start");
    }
}

static void AppendLatencyLine(const char *label, const LatencyFigures &figures,
                              StatusReport &report)
{
    if (figures.Count == 0) {
        Append(report, "  %-8s none yet\r\n", label);
    } else {
        Append(report, "  %-8s last %.3f ms, median %.3f ms of the last %ld\r\n", label,
               figures.LastMs, figures.MedianMs, figures.Count);
    }
}

static void AppendDigitizerLines(const StatusSnapshot &snapshot, StatusReport &report)
{
    if (snapshot.DigitizerCount == 0) {
        Append(report, "Digitizers:  none seen: a tap sounds as a left press, when the finger lifts\r\n");
        return;
    }
    Append(report, "Digitizers:  %ld seen\r\n", snapshot.DigitizerCount);
    for (LONG index = 0; index < snapshot.DigitizerCount; ++index) {
        const StatusDigitizer &device = snapshot.Digitizers[index];
        Append(report, "  %s, %s style%s: %ld reports, %ld touches sounded, %ld presses passed over, "
                       "%ld sounded at lift\r\n    %s\r\n",
               KindName(device.Type), StyleName(device.Style), device.Present ? "" : " (gone)",
               device.Counts.Reports, device.Counts.Touches, device.Counts.PassedOver,
               device.Counts.SoundedAtLift, device.Name[0] != '\0' ? device.Name : "(no name)");
    }
}

void FormatStatusText(const StatusSnapshot &snapshot, const char *driver, StatusReport &report)
{
    Append(report, "Pitchkeeper %s is running.\r\n", snapshot.Version);
    Append(report, "Tone:        %s, output %s\r\n", snapshot.BeepEnabled == 1 ? "on" : "off",
           OutputName(snapshot));
    AppendBuzzerLine(snapshot, report);
    Append(report, "Driver:      %s\r\n", driver);
    Append(report, "Mouse hook:  %s; set again %ld times, %ld of them after the system dropped it\r\n",
           snapshot.HookSet ? "set" : "NOT SET", snapshot.HookRenewals, snapshot.HookLosses);
    Append(report, "Presses:     %ld left presses heard\r\n", snapshot.Presses);
    Append(report, "Tones:       %ld started, %ld dropped at the worker cap, %ld failed (last error %lu)\r\n",
           snapshot.Started, snapshot.Dropped, snapshot.Failed, snapshot.LastError);
    Append(report, "Latency, from the report or the press to the tone request:\r\n");
    AppendLatencyLine("contact", FiguresOf(snapshot, ToneFromContact), report);
    AppendLatencyLine("press", FiguresOf(snapshot, ToneFromPress), report);
    AppendDigitizerLines(snapshot, report);
}

// --- JSON ---

// ASCII only: quotes, backslashes, control characters and everything
// beyond ASCII escaped, from the name's code page
static void AppendJsonString(const char *text, StatusReport &report)
{
    wchar_t wide[MAX_PATH];
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, wide, MAX_PATH);
    Append(report, "\"");
    for (int index = 0; index + 1 < length; ++index) {
        wchar_t unit = wide[index];
        if (unit == L'"' || unit == L'\\') {
            Append(report, "\\%c", (char)unit);
        } else if (unit < 0x20 || unit >= 0x7F) {
            Append(report, "\\u%04X", (unsigned)unit);
        } else {
            Append(report, "%c", (char)unit);
        }
    }
    Append(report, "\"");
}

static void AppendJsonLatency(const char *name, const LatencyFigures &figures, StatusReport &report)
{
    if (figures.Count == 0) {
        Append(report, "\"%s\": {\"last\": null, \"median\": null}", name);
    } else {
        Append(report, "\"%s\": {\"last\": %.3f, \"median\": %.3f}", name, figures.LastMs,
               figures.MedianMs);
    }
}

static void AppendJsonDigitizers(const StatusSnapshot &snapshot, StatusReport &report)
{
    Append(report, "  \"digitizers\": [");
    for (LONG index = 0; index < snapshot.DigitizerCount; ++index) {
        const StatusDigitizer &device = snapshot.Digitizers[index];
        Append(report, "%s\r\n    {\"name\": ", index == 0 ? "" : ",");
        AppendJsonString(device.Name, report);
        Append(report, ", \"kind\": \"%s\", \"style\": \"%s\", \"present\": %s, \"reports\": %ld, "
                       "\"touches\": %ld, \"passedOver\": %ld, \"soundedAtLift\": %ld}",
               KindName(device.Type), StyleName(device.Style), device.Present ? "true" : "false",
               device.Counts.Reports, device.Counts.Touches, device.Counts.PassedOver,
               device.Counts.SoundedAtLift);
    }
    Append(report, "%s],\r\n", snapshot.DigitizerCount == 0 ? "" : "\r\n  ");
}

static const char *BuzzerAvailable(const StatusSnapshot &snapshot)
{
    if (snapshot.BuzzerState == BuzzerUntried) {
        return "null";
    }
    return snapshot.BuzzerState == BuzzerOpens ? "true" : "false";
}

void FormatStatusJson(const StatusSnapshot &snapshot, const char *driver, StatusReport &report)
{
    Append(report, "{\r\n  \"running\": true,\r\n  \"version\": ");
    AppendJsonString(snapshot.Version, report);
    Append(report, ",\r\n  \"beeping\": %s,\r\n  \"output\": \"%s\",\r\n",
           snapshot.BeepEnabled == 1 ? "true" : "false", OutputName(snapshot));
    Append(report, "  \"buzzerAvailable\": %s,\r\n  \"buzzerError\": %lu,\r\n  \"fallback\": %s,\r\n",
           BuzzerAvailable(snapshot), snapshot.BuzzerError,
           FallsBackToSpeaker(snapshot) ? "\"speaker\"" : "null");
    Append(report, "  \"driver\": ");
    AppendJsonString(driver, report);
    Append(report, ",\r\n  \"hook\": {\"set\": %s, \"renewals\": %ld, \"lost\": %ld},\r\n",
           snapshot.HookSet ? "true" : "false", snapshot.HookRenewals, snapshot.HookLosses);
    Append(report, "  \"presses\": %ld,\r\n  \"tones\": %ld,\r\n  \"dropped\": %ld,\r\n"
                   "  \"failed\": %ld,\r\n  \"lastError\": %lu,\r\n",
           snapshot.Presses, snapshot.Started, snapshot.Dropped, snapshot.Failed, snapshot.LastError);
    AppendJsonDigitizers(snapshot, report);
    Append(report, "  \"latencyMs\": {");
    AppendJsonLatency("contact", FiguresOf(snapshot, ToneFromContact), report);
    Append(report, ", ");
    AppendJsonLatency("press", FiguresOf(snapshot, ToneFromPress), report);
    Append(report, "}\r\n}\r\n");
}
