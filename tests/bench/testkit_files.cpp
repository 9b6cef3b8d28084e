// Files the program and the task-tool stand-in leave behind.
#include "testkit.h"

#include <fstream>
#include <sstream>

static const char TaskLogPath[] = "C:\\pk-bench\\schtasks.log";
// where the bench puts the stand-in; a 32-bit program's system folder is the second
static const char SystemTaskTool[] = "C:\\windows\\system32\\schtasks.exe";
static const char Wow64TaskTool[] = "C:\\windows\\syswow64\\schtasks.exe";

bool FileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadTextFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

std::string TaskToolCommandLine(const char *arguments)
{
    return std::string("\"") + SystemTaskTool + "\" " + arguments;
}

// One run a line: the path of the copy that ran, a tab, its command line.
struct TaskToolRun {
    std::string Program;
    std::string CommandLine;
};

static std::vector<TaskToolRun> RecordedTaskToolRuns()
{
    std::vector<TaskToolRun> runs;
    std::istringstream lines(ReadTextFile(TaskLogPath));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        size_t tab = line.find('\t');
        runs.push_back(tab == std::string::npos
                           ? TaskToolRun{"", line}
                           : TaskToolRun{line.substr(0, tab), line.substr(tab + 1)});
    }
    return runs;
}

std::vector<std::string> RecordedTaskCommands()
{
    std::vector<std::string> commands;
    for (const TaskToolRun &run : RecordedTaskToolRuns()) {
        commands.push_back(run.CommandLine);
    }
    return commands;
}

bool OnlySystemTaskToolRan()
{
    for (const TaskToolRun &run : RecordedTaskToolRuns()) {
        if (lstrcmpiA(run.Program.c_str(), SystemTaskTool) != 0 &&
            lstrcmpiA(run.Program.c_str(), Wow64TaskTool) != 0) {
            return false;
        }
    }
    return true;
}

void ClearRecordedTaskCommands()
{
    DeleteFileA(TaskLogPath);
}

bool WaitForTaskCommandCount(size_t count, DWORD timeoutMs)
{
    return WaitUntil([](void *wanted) { return RecordedTaskCommands().size() >= *(size_t *)wanted; },
                     &count, timeoutMs);
}
