// The search settings kept in the desktop program's QSettings file.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/QSettingsStore.h"

#include <cstdio>

#include <QFile>

namespace app {

QSettingsStore::QSettingsStore()
{
    open();
    // QSettings parses a section only when it is first used, so damage in a
    // later section would show only at the first write, after some values
    // had been read from the file and while the rest were being written.
    // Parsing it all now tells at once whether the file can be trusted.
    m_settings->allKeys();
    m_damaged =
        m_settings->status() == QSettings::FormatError &&
        ::lstat(QFile::encodeName(m_settings->fileName()).constData(), &m_damagedFile) == 0 &&
        S_ISREG(m_damagedFile.st_mode);
}

void QSettingsStore::open()
{
    m_settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             "Quarrendale", "Kelvarin");
}

settings::SettingsStore::ReadStatus QSettingsStore::read(const std::string& name,
                                                         std::string& value)
{
    // A file that cannot be read or parsed holds nothing.
    if (m_damaged || m_settings->status() != QSettings::NoError) {
        return ReadStatus::Missing;
    }
    const QString key = QString::fromStdString(name);
    if (!m_settings->contains(key)) {
        return ReadStatus::Missing;
    }
    const QVariant stored = m_settings->value(key);
    if (stored.typeId() != QMetaType::QString) {
        return ReadStatus::WrongType;
    }
    value = stored.toString().toStdString();
    return ReadStatus::Text;
}

void QSettingsStore::setDamagedFileAside()
{
    const QByteArray file = QFile::encodeName(m_settings->fileName());
    m_settings.reset();
    struct stat now = {};
    if (::lstat(file.constData(), &now) == 0 && now.st_dev == m_damagedFile.st_dev &&
        now.st_ino == m_damagedFile.st_ino && now.st_size == m_damagedFile.st_size &&
        now.st_mtim.tv_sec == m_damagedFile.st_mtim.tv_sec &&
        now.st_mtim.tv_nsec == m_damagedFile.st_mtim.tv_nsec) {
        std::rename(file.constData(), (file + ".damaged").constData());
    }
    // A new QSettings: the old one keeps reporting the parse error.
    open();
    m_damaged = false;
}

bool QSettingsStore::write(const std::string& name, const std::string& value)
{
    if (m_damaged) {
        setDamagedFileAside();
    }
    m_settings->setValue(QString::fromStdString(name), QString::fromStdString(value));
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

}  // namespace app
