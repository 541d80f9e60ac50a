#pragma once

#include <QString>
#include <QStringList>

// The only things done with administrator rights, each an argument vector whose first word names
// it. They run as calls and as programs started with their arguments (never through a shell),
// check the protected paths themselves, never replace an existing destination and never move or
// copy into a folder named as the destination:
//   "remove" PATH              delete the file or folder (recursively, within its file system)
//   "move" SOURCE DESTINATION  rename, or copy then delete across file systems
//   "copy" SOURCE DESTINATION  copy, keeping modes, owners and times
//   "mkdir" PATH               create the folder and its missing parents
//   "trash" PATH DESTINATION   move into the user's Trash (the destination must lie in it)
// Used by the privileged helper and, in a process that is already the superuser, directly.
class BVPrivilegedOperations
{
public:
    struct Context
    {
        QString home; // the user's home folder
        QString trashFiles; // the folder trashed items go to
    };
    // Answers 0 or an error number, with a message saying what went wrong.
    static int perform(const QStringList &request, const Context &context, QString *message);
    static bool isKnownOperation(const QString &name);
};
