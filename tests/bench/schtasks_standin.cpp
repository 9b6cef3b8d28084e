// Stand-in for the task scheduler's command-line tool: Wine's own does not
// know /SC and keeps no tasks, so the bench records each command line instead.
#include <windows.h>

#include <stdio.h>

int main()
{
    CreateDirectoryA("C:\\pk-bench", NULL);
    FILE *log = fopen("C:\\pk-bench\\schtasks.log", "a");
    if (log == NULL) {
        return 1;
    }
    fprintf(log, "%s\n", GetCommandLineA());
    fclose(log);
    return 0;
}
