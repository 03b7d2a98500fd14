#pragma once

#include <QSettings>

#include "settings/SearchOptions.h"

namespace app {

// The settings in QSettings("Quarrendale", "Kelvarin"): on Linux the file
// ~/.config/Quarrendale/Kelvarin.conf. Each value is text; a flag "1" or "0".
class QSettingsStore : public settings::SettingsStore {
public:
    QSettingsStore();
    ReadStatus read(const std::string& name, std::string& value) override;
    bool write(const std::string& name, const std::string& value) override;

private:
    QSettings m_settings;
};

}  // namespace app
