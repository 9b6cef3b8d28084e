// Stand-in for the task scheduler's command-line tool: Wine's own does not
// know /SC and keeps no tasks, so the bench records each run instead: the
// path this copy ran from, a tab, and the command line it was given. The
// bench puts copies where only a search would find them too; their path in
// the record shows it if one of them ever runs.
#include <windows.h>

#include <stdio.h>

int main()
{
    char program[MAX_PATH] = {};
    GetModuleFileNameA(NULL, program, sizeof(program));
    CreateDirectoryA("C:\\pk-bench", NULL);
    FILE *log = fopen("C:\\pk-bench\\schtasks.log", "a");
    if (log == NULL) {
        return 1;
    }
    fprintf(log, "%s\t%s\n", program, GetCommandLineA());
    fclose(log);
    return 0;
}
