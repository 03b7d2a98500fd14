// Test helper: runs gemmora-cli as a user runs it, its output in files.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/CliRunner.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TempFolder.h"

const char* cliPath()
{
    const char* given = std::getenv("GEMMORA_CLI");
    return given != nullptr && given[0] != '\0' ? given : GEMMORA_CLI;
}

std::string readFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

CliOutcome runCli(const std::vector<std::string>& args, const CliRun& how)
{
    TempFolder io;
    ::chmod(io.path().c_str(), 0777);  // a lesser user writes here too
    const std::string out = io / "out";
    const std::string err = io / "err";
    const pid_t child = ::fork();
    if (child == 0) {
        if (how.setUp && !how.setUp()) {
            ::_exit(77);
        }
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0) {
            ::_exit(78);
        }
        ::dup2(o, 1);
        ::dup2(e, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(cliPath()));
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(cliPath(), argv.data());
        ::_exit(127);
    }
    if (how.whileRunning) {
        how.whileRunning(child);
    }
    CliOutcome outcome;
    int status = 0;
    for (int waited = 0;; waited += 20) {
        if (::waitpid(child, &status, WNOHANG) == child) {
            break;
        }
        if (waited > how.seconds * 1000) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            outcome.timedOut = true;
            break;
        }
        ::usleep(20000);
    }
    if (WIFEXITED(status)) {
        outcome.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.signal = WTERMSIG(status);
    }
    outcome.out = readFileBytes(out);
    outcome.err = readFileBytes(err);
    return outcome;
}
