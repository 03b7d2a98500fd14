#include "app/QSettingsStore.h"

namespace app {

QSettingsStore::QSettingsStore()
    : m_settings(QSettings::NativeFormat, QSettings::UserScope, "Quarrendale", "Kelvarin")
{
}

settings::SettingsStore::ReadStatus QSettingsStore::read(const std::string& name,
                                                         std::string& value)
{
    // A file that cannot be read or parsed holds nothing.
    if (m_settings.status() != QSettings::NoError) {
        return ReadStatus::Missing;
    }
    const QString key = QString::fromStdString(name);
    if (!m_settings.contains(key)) {
        return ReadStatus::Missing;
    }
    const QVariant stored = m_settings.value(key);
    if (stored.typeId() != QMetaType::QString) {
        return ReadStatus::WrongType;
    }
    value = stored.toString().toStdString();
    return ReadStatus::Text;
}

bool QSettingsStore::write(const std::string& name, const std::string& value)
{
    m_settings.setValue(QString::fromStdString(name), QString::fromStdString(value));
    m_settings.sync();
    return m_settings.status() == QSettings::NoError;
}

}  // namespace app
