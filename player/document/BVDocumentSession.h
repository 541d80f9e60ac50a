#pragma once

#include "player/document/BVTransportEvent.h"

#include <QString>

// The synced review session a document takes part in. The owner's transport reaches the other
// participants by listening to the document's transport events ("KPLAY", "KPAUSE", "AB", "TC" ...
// are this object's words, not the document's). Installed by whoever builds documents
// (BVDocument::setSession); the default is no session. Main thread.
class BVDocumentSession
{
public:
    virtual ~BVDocumentSession() = default;

    virtual bool isInSession() const { return false; }
    // The session's name, shown as the window title during a session.
    virtual QString sessionName() const { return {}; }
    // Every transport event of the document (the owner sends it; others ignore it).
    virtual void transportPerformed(const BVTransportEvent &event) { (void)event; }
    // The media became ready, or its buffer ran empty ("ready" and "wait" messages).
    virtual void mediaReady() { }
    virtual void bufferEmpty() { }
    // The displayed source timecode (the owner keeps it as syncTimecode).
    virtual void timecodeDisplayed(const QString &raw) { (void)raw; }
    // The document is cleaning up: announce leaving, close the sockets. No call follows.
    virtual void cleanup() { }
};
