// A fresh working folder for one test: the current directory (where OrvaDesktop.ini
// lives) and the platform's config and state folders, so that the machine's drive map
// is never touched. The previous current directory comes back at the end.
#pragma once

#include "platform/Profile.h"

#include "WideText.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>

class ScratchFolder final
{
public:
    ScratchFolder() : m_previous(QDir::currentPath())
    {
        QDir::setCurrent(m_folder.path());
        setenv("XDG_CONFIG_HOME", m_folder.path().toLocal8Bit().constData(), 1);
        setenv("XDG_STATE_HOME", m_folder.path().toLocal8Bit().constData(), 1);
    }
    ~ScratchFolder() { QDir::setCurrent(m_previous); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    QString SettingsFile() const { return m_folder.filePath(QStringLiteral("OrvaDesktop.ini")); }
    bool SettingsFileExists() const { return QFile::exists(SettingsFile()); }
    void SetVolumeCount(const QString& value) const
    {
        WritePrivateProfileStringW(u"Orva", u"VolumeCount", ToWide(value), ToWide(SettingsFile()));
    }

private:
    QTemporaryDir m_folder;
    QString m_previous;
};
