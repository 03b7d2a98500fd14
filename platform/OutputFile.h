// A file the user named for output, replaced whole only once its text is complete.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <climits>
#include <csignal>
#include <string>
#include <string_view>
#include <sys/stat.h>

#include "platform/NoFollowOpen.h"

namespace platform {

// A file the user named for output. The name is followed if it is a link.
// An existing regular file is replaced whole once the text is complete: the
// text goes to a new file beside it, which takes the old file's mode and
// owner and is renamed over it, so a failed write leaves the old file as it
// was. Where that cannot be done (the folder is not writable, the owner or
// mode cannot be kept, the file has other hard links, a shared sticky folder
// forbids the rename) the file is written in place, as is a FIFO, a device
// or any other file that is not a regular file. A new file is made the same
// way as a replacement, with the mode the umask gives.
class OutputFile {
public:
    OutputFile() = default;
    // Removes the temporary file of an output that was not committed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // False with errno set when the file cannot be written at all.
    bool open(const std::string& path);
    bool write(std::string_view text);
    // Puts the text in place: flushed, then renamed over the old file. False
    // with errno set, the temporary file removed and an old file untouched;
    // also after any failed write, with that write's reason.
    bool commit();

    // Removes the temporary file, if one is waiting. Only unlinkat, so a
    // signal handler may call it.
    void removeTemporary() noexcept;
    // True while a temporary file exists.
    bool hasTemporary() const { return m_armed != 0; }

private:
    bool openNew(const std::string& path);
    bool openReplacement(const struct stat& old);
    bool startTemporary(const std::string& folder, const std::string& name);

    UniqueFd m_fd;       // what the text is written to
    UniqueFd m_folder;   // the folder of the temporary file
    std::string m_name;  // the name the temporary file takes
    char m_temporary[NAME_MAX + 1] = {};
    volatile std::sig_atomic_t m_armed = 0;
    bool m_regular = false;
    int m_writeError = 0;  // the reason a write failed
};

// Creates a file in `folder` (a descriptor) with O_CREAT | O_EXCL under a
// name no one can guess beforehand: "." + `base` + ".tmp-" + random letters.
// Mode 0666 less the umask. The descriptor, or -1 with errno set; the name
// goes to `name`.
int createTemporaryIn(int folder, std::string_view base, std::string& name);

// Writes all `size` bytes, through interrupted and partial writes. False
// with errno set.
bool writeAll(int fd, const char* data, std::size_t size);

}  // namespace platform
