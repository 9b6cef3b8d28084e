// The status report as a person reads it and as one JSON object for
// scripts, made from a snapshot already checked (see status_request.cpp).
#pragma once

#include "status_snapshot.h"

#include <stddef.h>

// room for the longest report: every digitizer with a name of MAX_PATH
// characters, each written as a six-character JSON escape
const size_t StatusReportSize = 32768;

struct StatusReport {
    char Text[StatusReportSize];
    size_t Used;
};

void FormatStatusText(const StatusSnapshot &snapshot, const char *driver, StatusReport &report);
void FormatStatusJson(const StatusSnapshot &snapshot, const char *driver, StatusReport &report);
