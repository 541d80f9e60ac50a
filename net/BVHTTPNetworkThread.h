#pragma once

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class BVHTTPRequest;
typedef void CURLM;

// The HTTP layer's own network thread: one libcurl multi handle drives every running request, so
// any number of uploads share one thread. Requests arrive from any thread through start() and
// leave when they finish, fail, time out (and are restarted) or are cancelled.
class BVHTTPNetworkThread
{
public:
    static BVHTTPNetworkThread &shared();
    ~BVHTTPNetworkThread();

    void start(std::shared_ptr<BVHTTPRequest> request);
    // Makes the thread look at its requests now (after a cancel).
    void wake();

private:
    BVHTTPNetworkThread();
    void run();
    void addPending();
    void checkRequests();

    std::thread m_thread;
    CURLM *m_multi = nullptr;
    std::mutex m_mutex;
    std::vector<std::shared_ptr<BVHTTPRequest>> m_pending;
    bool m_stopping = false;
    // Network thread only.
    struct Active
    {
        std::shared_ptr<BVHTTPRequest> request;
        void *handle;
    };
    std::vector<Active> m_active;
};
