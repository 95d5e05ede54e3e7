// Runs a command line through the shell; its standard output and error go to `output`.
#pragma once

#include <cstdio>
#include <string>
#include <sys/wait.h>

// The exit status, or -1 when the command did not exit normally.
inline int RunCommand(const std::string& command, std::string* output = nullptr)
{
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return -1;
    std::string text;
    char chunk[4096];
    while (size_t count = std::fread(chunk, 1, sizeof chunk, pipe))
        text.append(chunk, count);
    const int status = ::pclose(pipe);
    if (output != nullptr)
        *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
