#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>
#include <optional>

class BVAuthorizationRunner;

// Runs the basic file tools with administrator rights after the user has authenticated once; the
// file utilities fall back on it when an ordinary operation fails. Protected folders are refused.
// The singleton is created under a lock and may then be used from any thread; calls are serialised.
class BVAuthorization
{
public:
    static BVAuthorization *sharedController();
    BVAuthorization(const BVAuthorization &) = delete;
    BVAuthorization &operator=(const BVAuthorization &) = delete;

    bool authRemoveFile(const QString &path);
    bool authMoveFile(const QString &oldPath, const QString &newPath);
    bool authCopyFile(const QString &oldPath, const QString &newPath);
    bool authCreateDir(const QString &path);
    // Moves the item into the Trash with administrator rights; a name already in the Trash gets
    // the local time appended ("movie_20240131235959.mov").
    bool authTrashFile(const QString &path);
    // Answers 0 on success, -1 when not authorised, -2 when the tool is missing. Only a process
    // that is already the superuser runs a tool of its choice: with administrator rights obtained
    // from the user, only the fixed operations above are performed, so this answers -1. The
    // asynchronous form does not wait for the tool.
    int authExecTask(const QString &tool, const QStringList &parameters, bool async = true);
    // Obtains the administrator right, asking the user once; kept until authEnd(). The operation
    // names what the prompt asks for.
    bool authStart(const QString &operation = {});
    void authEnd();

    bool isAuthorized() const;
    bool hasGUI() const { return m_hasGUI; }
    // The user's home folder recorded at creation; empty for a superuser process.
    const QString &userDirectory() const { return m_userDirectory; }

    // The Trash destination for an item: the Trash's files folder followed by its name, or the
    // time-stamped name when that is taken.
    static QString trashDestinationForPath(const QString &path);

    // Replaces the privileged runner (tests see what would run); answers the previous one.
    std::unique_ptr<BVAuthorizationRunner> setRunner(std::unique_ptr<BVAuthorizationRunner> runner);
    // Lets tests take the ordinary-user or superuser road whatever the process's real user id is.
    void setSuperuserForTesting(std::optional<bool> superuser);

private:
    BVAuthorization();
    ~BVAuthorization();
    bool isSuperuser() const;
    // Performs one privileged operation (through the helper, or directly as the superuser) and
    // waits for it; true only when it succeeded.
    bool runOperation(const QStringList &request);
    // The protected-path rule of the helper, plus the user's own standard folders.
    bool mayChange(const QString &path) const;

    mutable std::recursive_mutex m_mutex;
    std::unique_ptr<BVAuthorizationRunner> m_runner;
    std::optional<bool> m_superuserOverride;
    bool m_hasGUI = true;
    QString m_userDirectory;
};
