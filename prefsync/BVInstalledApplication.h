#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// An application installed for the user, found by its bundle identifier among the desktop entries
// (".desktop" files) of the XDG data folders: the entry named after the identifier, or one whose
// "X-Brightvane-BundleIdentifier" key carries it. The user's own folder comes first, as the desktop
// lets a user's entry stand in for a system one. Any thread.
class BVInstalledApplication
{
public:
    // The first entry for the identifier; none when no folder has one, or the entry is hidden.
    static std::optional<BVInstalledApplication> applicationWithBundleIdentifier(const QString &identifier);
    // The folders searched, in order ("applications" of XDG_DATA_HOME, then of XDG_DATA_DIRS).
    static QStringList applicationFolders();

    const QString &bundleIdentifier() const { return m_bundleIdentifier; }
    const QString &desktopFilePath() const { return m_desktopFilePath; }
    // The entry's Name (the application's display name); empty when it has none.
    const QString &displayName() const { return m_displayName; }
    // The program and its arguments from Exec, field codes removed.
    QStringList launchCommand() const;
    // Starts a new instance without waiting for it; false (and logged) when it cannot be started.
    bool launch() const;

private:
    static std::optional<BVInstalledApplication> fromDesktopFile(
        const QString &path, const QString &identifier, bool requireKey);

    QString m_bundleIdentifier;
    QString m_desktopFilePath;
    QString m_displayName;
    QString m_exec;
};
