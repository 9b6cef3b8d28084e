#include "error_log.h"

#include <stdio.h>

void AppendErrorLine(const char *format, int code)
{
    FILE *file = fopen("error.txt", "a");
    if (file == NULL) {
        // nowhere to report to; start-up goes on regardless
        return;
    }
    fprintf(file, format, code);
    fflush(file);
    fclose(file);
}
