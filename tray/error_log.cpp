#include "error_log.h"

#include "pitchkeeper_shared.h"

#include <stdio.h>

void AppendErrorLine(const char *format, int code)
{
    FILE *file = fopen(PK_ERROR_LOG_PATH, "a");
    if (file == NULL) {
        // nowhere to report to; start-up goes on regardless
        return;
    }
    fprintf(file, format, code);
    fflush(file);
    fclose(file);
}
