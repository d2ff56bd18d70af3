// Runs the built ulvaren program as a user would from a shell.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

struct Result {
    int status = -1;  // exit status; -1 when the program did not exit by itself
    std::string out;  // standard output and error, interleaved
};

// Runs `ulvaren arguments --registry 'registry'`; `environment` ("NAME=value
// ...", or "-u NAME" to remove one) changes the program's environment.
inline Result runUlvaren(const std::string& arguments, const std::string& registry,
                         const std::string& environment = "") {
    const std::string command = "env " + environment + " " + ULVAREN_BINARY + " " + arguments +
                                " --registry '" + registry + "' 2>&1";
    Result result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) result.out.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
