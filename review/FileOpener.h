// Opens a file with the desktop's own program for it, passing the path's exact bytes.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class QSocketNotifier;

namespace review {

// Opens files with the desktop's opener, handing it the exact bytes of the
// path: a name that is not UTF-8 survives no conversion to text and back.
// The program that opens the file runs on its own; nothing waits for it.
// When nothing could open a file, open() says so at once if the opener
// cannot be started, and `failed` tells if it ends unsuccessfully soon
// after.
class FileOpener : public QObject {
    Q_OBJECT
public:
    explicit FileOpener(QObject* parent = nullptr);
    ~FileOpener() override;

    // The opener, by name (looked up in PATH) or by path. It takes the
    // file's path as its one argument, as xdg-open does, and ends with
    // status 0 once the file is open.
    std::string program = "xdg-open";

    // An opener that ends this soon and not with 0 refused the file. One
    // that ends later ran the viewer itself, and how the viewer ended is
    // not the opener's answer.
    static constexpr std::chrono::seconds kRefusalWindow{10};

    // False, with the reason in words, when the opener could not be started.
    bool open(const std::string& path, QString& reason);

    // How many openers started here have not ended yet.
    std::size_t running() const { return m_launches.size(); }

signals:
    // The opener ended soon after its start without opening `path`.
    void failed(const QByteArray& path, const QString& reason);

private:
    struct Launch {
        pid_t pid = -1;
        QByteArray path;
        std::chrono::steady_clock::time_point started;
        int pidfd = -1;
        QSocketNotifier* notifier = nullptr;
    };

    void reap();
    QString reasonFor(int status) const;

    std::vector<std::unique_ptr<Launch>> m_launches;
    // Where the kernel gives no process descriptor to watch, ended openers
    // are looked for every so often instead.
    QTimer m_poll;
};

}  // namespace review
