// Start-up failures go to "error.txt" in the install folder, one line each,
// the file opened and closed around every line. Not the current folder: the
// elevated program may be started from one a standard user can write, where
// a link could send the append anywhere; the install folder is locked, and
// the uninstall removes the file with it.
#pragma once

// format holds exactly one %d, which receives code.
void AppendErrorLine(const char *format, int code);
