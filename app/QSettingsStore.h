// The search settings kept in the desktop program's QSettings file.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <sys/stat.h>

#include <QSettings>

#include "settings/SearchOptions.h"

namespace app {

// The settings in QSettings("Quarrendale", "Kelvarin"): on Linux the file
// ~/.config/Quarrendale/Kelvarin.conf. Each value is text; a flag "1" or "0".
// Read and write through the same store: QSettings keeps a parsed file for
// the whole process and reports its damage only to the first reader.
class QSettingsStore : public settings::SettingsStore {
public:
    QSettingsStore();
    ReadStatus read(const std::string& name, std::string& value) override;
    bool write(const std::string& name, const std::string& value) override;

    // Whether the settings file exists but cannot be parsed. None of its
    // values is read then, and the first write keeps it as
    // "Kelvarin.conf.damaged" and starts a new file.
    bool damaged() const { return m_damaged; }

private:
    void open();
    void setDamagedFileAside();

    std::unique_ptr<QSettings> m_settings;
    bool m_damaged = false;
    // The damaged file as it was found, so that a file another copy of the
    // program has written since is not taken for it.
    struct stat m_damagedFile = {};
};

}  // namespace app
