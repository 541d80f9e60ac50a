#pragma once

#include <QString>
#include <QStringList>

// Performs the fixed privileged file operations (see BVPrivilegedOperations) for BVAuthorization.
// The right is obtained once, from the user, and kept until released. Calls arrive one at a time
// (BVAuthorization serialises them). Tests install their own runner to see what would run,
// without a real privilege prompt.
class BVAuthorizationRunner
{
public:
    virtual ~BVAuthorizationRunner() = default;

    // Asks the user for administrator rights unless they are held; the operation ("remove",
    // "move", ...) names what the prompt asks for. Answers whether the right is held.
    virtual bool obtainRight(const QString &operation) = 0;
    virtual bool hasRight() const = 0;
    virtual void releaseRight() = 0;
    // Performs one operation, given as its words ("move", source, destination). Answers 0 or an
    // error number, with the reason in message.
    virtual int perform(const QStringList &request, QString *message) = 0;
};
