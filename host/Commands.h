// The commands of the ulvaren host. Each returns the process's exit status.
#pragma once

#include <string>
#include <vector>

#include "host/HostSession.h"

// Every set with its index, name, status, last run's figures and log.
int listSets(const HostOptions& options);

// Adds a set from each definition file; with `target` not empty, gives the
// new sets that target folder. 0 when every file was added, else 1.
int importSets(const HostOptions& options, const std::vector<std::string>& files,
               const std::string& target);

// Runs the named sets (index or name), or with `all` every set that start-all
// takes, showing progress. 0 when every run ended Complete, 1 when any did
// not, 130 when interrupted, 2 for a set that does not exist.
int runSets(const HostOptions& options, bool all, const std::vector<std::string>& sets);
