#pragma once

#include <QString>
#include <QStringList>

// Runs tools with administrator rights for BVAuthorization. The right is obtained once, from the
// user, and kept until released. Calls arrive one at a time (BVAuthorization serialises them).
// Tests install their own runner to see what would run, without a real privilege prompt.
class BVAuthorizationRunner
{
public:
    virtual ~BVAuthorizationRunner() = default;

    // Asks the user for administrator rights unless they are held; answers whether they are held.
    virtual bool obtainRight() = 0;
    virtual bool hasRight() const = 0;
    virtual void releaseRight() = 0;
    // Starts the tool with administrator rights, its output discarded. With wait, blocks until it
    // ends and stores its exit status (-1 when unknown) in exitStatus. Answers 0 when it started,
    // otherwise an error number.
    virtual int execute(const QString &tool, const QStringList &arguments, bool wait, int *exitStatus) = 0;
};
