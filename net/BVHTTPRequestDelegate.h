#pragma once

#include <QtGlobal>

class BVHTTPRequest;

// The owner of a request. Called on the main thread; the finish and fail selectors of the request,
// when set, replace these two. Nothing is called once the request's delegate is cleared.
class BVHTTPRequestDelegate
{
public:
    virtual ~BVHTTPRequestDelegate() = default;
    virtual void requestFinished(BVHTTPRequest *) { }
    virtual void requestFailed(BVHTTPRequest *) { }
};

// Receives upload progress on the main thread: the bytes sent since the last report. A request
// restarted after a time-out reports the bytes of the abandoned attempt as a negative count, so
// the reports of a request always add up to the bytes of its body that reached the server.
class BVHTTPUploadProgressDelegate
{
public:
    virtual ~BVHTTPUploadProgressDelegate() = default;
    virtual void requestDidSendBytes(BVHTTPRequest *, qint64) { }
};
