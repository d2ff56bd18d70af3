// Reads the messages of a log file written by TBLog, without the time stamp,
// level and application name in front of each.
#pragma once

#include <fstream>
#include <string>
#include <vector>

inline std::vector<std::string> logMessages(const std::string& path) {
    std::vector<std::string> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        // "YYYY-MM-DD HH:MM:SS LEVEL " then, where set, "App: ".
        size_t pos = 0;
        for (int i = 0; i < 3 && pos != std::string::npos; ++i) {
            pos = line.find(' ', pos);
            if (pos != std::string::npos) ++pos;
        }
        if (pos == std::string::npos) continue;
        std::string message = line.substr(pos);
        if (message.rfind("Ulvaren: ", 0) == 0) message = message.substr(9);
        out.push_back(message);
    }
    return out;
}
