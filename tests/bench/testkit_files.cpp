// Files the program and the task-tool stand-in leave behind.
#include "testkit.h"

#include <fstream>
#include <sstream>

static const char TaskLogPath[] = "C:\\pk-bench\\schtasks.log";

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

std::vector<std::string> RecordedTaskCommands()
{
    std::vector<std::string> commands;
    std::istringstream lines(ReadTextFile(TaskLogPath));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        commands.push_back(line);
    }
    return commands;
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
