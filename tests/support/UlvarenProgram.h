// Runs the built ulvaren program as a user would from a shell, on a registry
// and trees in a temporary folder.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "support/ScriptGate.h"
#include "support/TempDir.h"

struct Result {
    int status = -1;  // exit status; -1 when the program did not exit by itself
    std::string out;  // standard output and error, interleaved
};

class UlvarenTest : public ::testing::Test {
protected:
    // `relative` below the test's folder, quoted for the shell.
    std::string quoted(const std::string& relative) const { return "'" + dir / relative + "'"; }

    // Writes `name`.xml, a set that copies `source` straight into its target
    // and leaves out *.tmp files; `more` is further elements, as XML. Returns
    // the file's path, quoted.
    std::string define(const std::string& name, const std::string& source,
                       const std::string& more = "") {
        writeFile(dir / (name + ".xml"),
                  "<backupset><Name>" + name +
                      "</Name><Type>0</Type><FullPath>0</FullPath>"
                      "<AddComputerFolder>0</AddComputerFolder>"
                      "<ExcludeFiles><F>*.tmp</F></ExcludeFiles><SourceFolders><F>" +
                      source + "</F></SourceFolders>" + more + "</backupset>");
        return quoted(name + ".xml");
    }

    // The same, for a set whose runs first wait at `gate` in their
    // pre-backup script.
    std::string defineHeld(const std::string& name, const std::string& source,
                           const ScriptGate& gate) {
        return define(name, source,
                      "<PreBackup><Enabled>1</Enabled><Program>/bin/sh</Program><Args>-c '" +
                          gate.shellCommand() + "'</Args></PreBackup>");
    }

    // Imports the definition files `files` (quoted paths, as define() gives
    // them) with the target `target` below the test's folder; the exit status.
    int importInto(const std::string& files, const std::string& target) {
        return ulvaren("import " + files + " --target " + quoted(target)).status;
    }

    // Runs `ulvaren arguments` on the test's registry with the test's folder
    // as home and no default target from the caller's environment;
    // `environment` ("NAME=value ...") adds to that environment, and
    // `launcher` ("runuser -u nobody --", say) runs the program through it.
    Result ulvaren(const std::string& arguments, const std::string& environment = "",
                   const std::string& launcher = "") {
        const std::string command =
            launcher + " env -u ULVAREN_DEFAULT_TARGET HOME=" + quoted("home") + " " + environment +
            " " + ULVAREN_BINARY + " " + arguments + " --registry " + quoted("reg.db") + " 2>&1";
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

    TempDir dir;
};
