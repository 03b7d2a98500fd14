// Opens a file with the desktop's own program for it, passing the path's exact bytes.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "review/FileOpener.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QSocketNotifier>

extern char** environ;

namespace review {

namespace {

// A descriptor that becomes readable when the process ends; -1 where the
// kernel has none.
int openProcessFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return static_cast<int>(fd);
    }
#endif
    (void)pid;
    return -1;
}

}  // namespace

FileOpener::FileOpener(QObject* parent) : QObject(parent)
{
    m_poll.setInterval(100);
    connect(&m_poll, &QTimer::timeout, this, &FileOpener::reap);
}

FileOpener::~FileOpener()
{
    // Openers still running go on by themselves; the system reaps them
    // once this program has ended.
    for (const std::unique_ptr<Launch>& launch : m_launches) {
        delete launch->notifier;
        if (launch->pidfd >= 0) {
            ::close(launch->pidfd);
        }
    }
}

bool FileOpener::open(const std::string& path, QString& reason)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);
    // Nothing to read from us; its own session, so the viewer it starts
    // outlives this program and a Ctrl-C in our terminal; default signal
    // handling whatever this program set up.
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGHUP);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes,
                               POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string programCopy = program;
    std::string pathCopy = path;
    char* argv[] = {programCopy.data(), pathCopy.data(), nullptr};
    pid_t pid = -1;
    const int error = ::posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        const QString name = QString::fromStdString(program);
        reason = error == ENOENT
                     ? tr("No program that opens files is installed (%1 was not found).").arg(name)
                     : tr("%1 could not be started: %2")
                           .arg(name, QString::fromLocal8Bit(std::strerror(error)));
        return false;
    }
    auto launch = std::make_unique<Launch>();
    launch->pid = pid;
    launch->path = QByteArray::fromStdString(path);
    launch->started = std::chrono::steady_clock::now();
    launch->pidfd = openProcessFd(pid);
    if (launch->pidfd >= 0) {
        launch->notifier = new QSocketNotifier(launch->pidfd, QSocketNotifier::Read, this);
        connect(launch->notifier, &QSocketNotifier::activated, this, &FileOpener::reap);
    } else {
        m_poll.start();
    }
    m_launches.push_back(std::move(launch));
    return true;
}

void FileOpener::reap()
{
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::pair<QByteArray, QString>> refusals;
    for (auto it = m_launches.begin(); it != m_launches.end();) {
        Launch& launch = **it;
        int status = 0;
        const pid_t ended = ::waitpid(launch.pid, &status, WNOHANG);
        if (ended == 0 || (ended < 0 && errno == EINTR)) {
            ++it;
            continue;
        }
        // Ended, or already reaped elsewhere (ECHILD): either way it is done.
        if (ended == launch.pid && !(WIFEXITED(status) && WEXITSTATUS(status) == 0) &&
            now - launch.started < kRefusalWindow) {
            refusals.emplace_back(launch.path, reasonFor(status));
        }
        if (launch.notifier != nullptr) {
            launch.notifier->setEnabled(false);
            launch.notifier->deleteLater();
        }
        if (launch.pidfd >= 0) {
            ::close(launch.pidfd);
        }
        it = m_launches.erase(it);
    }
    bool polled = false;
    for (const std::unique_ptr<Launch>& launch : m_launches) {
        polled = polled || launch->pidfd < 0;
    }
    if (!polled) {
        m_poll.stop();
    }
    // Told only now: a slot may show a message and run the event loop.
    for (const auto& [path, reason] : refusals) {
        emit failed(path, reason);
    }
}

QString FileOpener::reasonFor(int status) const
{
    const QString name = QString::fromStdString(program);
    if (WIFSIGNALED(status)) {
        return tr("%1 was ended by signal %2.").arg(name).arg(WTERMSIG(status));
    }
    const int code = WEXITSTATUS(status);
    switch (code) {
    case 2:
        return tr("%1 did not find the file (exit status 2).").arg(name);
    case 3:
        return tr("%1 found no program for files of this type (exit status 3).").arg(name);
    case 4:
        return tr("The program %1 chose to open it failed (exit status 4).").arg(name);
    default:
        return tr("%1 ended with exit status %2.").arg(name).arg(code);
    }
}

}  // namespace review
