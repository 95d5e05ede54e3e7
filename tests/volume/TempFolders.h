// Per-test config and state folders: XDG_CONFIG_HOME and XDG_STATE_HOME point into a
// fresh temporary folder, so drives.ini and journals.ini start empty.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

class TempFolders
{
public:
    TempFolders()
    {
        char pattern[] = "/tmp/orva-volume-test-XXXXXX";
        m_root = ::mkdtemp(pattern);
        ::setenv("XDG_CONFIG_HOME", (m_root / "config").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (m_root / "state").c_str(), 1);
    }
    ~TempFolders() { std::filesystem::remove_all(m_root); }
    TempFolders(const TempFolders&) = delete;
    TempFolders& operator=(const TempFolders&) = delete;

    const std::filesystem::path& Root() const { return m_root; }
    std::filesystem::path DriveMap() const { return m_root / "config" / "orva" / "drives.ini"; }
    std::filesystem::path Journals() const { return m_root / "state" / "orva" / "journals.ini"; }

private:
    std::filesystem::path m_root;
};
