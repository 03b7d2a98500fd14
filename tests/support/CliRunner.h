// Test helper: runs gemmora-cli as a user runs it, its output in files.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// gemmora-cli run as a user runs it, with its output in files.

struct CliOutcome {
    int status = -1;  // the exit status; 77 when `setUp` failed
    int signal = 0;   // the signal that ended it, if one did
    bool timedOut = false;
    std::string out;
    std::string err;
};

struct CliRun {
    // Runs in the child before the program starts (a mount namespace, a
    // lesser user); false ends the child with 77.
    std::function<bool()> setUp;
    // Runs in the test while the program runs, with its process id.
    std::function<void(pid_t)> whileRunning;
    // A run that takes longer is killed and counts as a hang.
    int seconds = 120;
};

inline CliRun afterSetUp(std::function<bool()> setUp)
{
    CliRun how;
    how.setUp = std::move(setUp);
    return how;
}

inline CliRun whileItRuns(std::function<void(pid_t)> action)
{
    CliRun how;
    how.whileRunning = std::move(action);
    return how;
}

// The program under test: $GEMMORA_CLI (the sanitized build) when set, else
// the build's own.
const char* cliPath();

CliOutcome runCli(const std::vector<std::string>& args, const CliRun& how = {});

std::string readFileBytes(const std::string& path);
