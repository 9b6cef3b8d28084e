// The resident's half of -status: copies its counts and sends them to the
// window of the start that asked.
#pragma once

#include <windows.h>

// Main thread. Answers only a window of a process that runs this very
// program file; anything else gets nothing.
void AnswerStatusRequest(HWND replyWindow);
