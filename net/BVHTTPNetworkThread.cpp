#include "net/BVHTTPNetworkThread.h"

#include "net/BVHTTPRequest.h"
#include "support/BVLog.h"

#include <curl/curl.h>

BVHTTPNetworkThread &BVHTTPNetworkThread::shared()
{
    static BVHTTPNetworkThread instance;
    return instance;
}

BVHTTPNetworkThread::BVHTTPNetworkThread()
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    m_multi = curl_multi_init();
    m_thread = std::thread([this] { run(); });
}

BVHTTPNetworkThread::~BVHTTPNetworkThread()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    curl_multi_wakeup(m_multi);
    m_thread.join();
    curl_multi_cleanup(m_multi);
}

void BVHTTPNetworkThread::start(std::shared_ptr<BVHTTPRequest> request)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending.push_back(std::move(request));
    }
    curl_multi_wakeup(m_multi);
}

void BVHTTPNetworkThread::wake()
{
    curl_multi_wakeup(m_multi);
}

void BVHTTPNetworkThread::run()
{
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                break;
        }
        addPending();
        int running = 0;
        curl_multi_perform(m_multi, &running);
        int queued = 0;
        while (CURLMsg *message = curl_multi_info_read(m_multi, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            for (size_t i = 0; i < m_active.size(); ++i) {
                if (m_active[i].handle != message->easy_handle)
                    continue;
                CURL *handle = message->easy_handle;
                const CURLcode result = message->data.result;
                long status = 0;
                curl_off_t uploaded = 0;
                char *redirectURL = nullptr;
                curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
                curl_easy_getinfo(handle, CURLINFO_REDIRECT_URL, &redirectURL);
                curl_easy_getinfo(handle, CURLINFO_SIZE_UPLOAD_T, &uploaded);
                std::shared_ptr<BVHTTPRequest> request = m_active[i].request;
                curl_multi_remove_handle(m_multi, handle);
                // The target is copied before the handle is pointed elsewhere.
                const QByteArray target(redirectURL ? redirectURL : "");
                request->finishAttempt(
                    result, status, target.constData(), qint64(uploaded), curl_easy_strerror(result));
                if (request->complete()) {
                    curl_easy_cleanup(handle);
                    m_active.erase(m_active.begin() + long(i));
                } else {
                    curl_multi_add_handle(m_multi, handle); // restarted: a time-out or a redirect
                }
                break;
            }
        }
        checkRequests();
        curl_multi_poll(m_multi, nullptr, 0, m_active.empty() ? 1000 : 50, nullptr);
    }
    // Shutting down: requests still running end without callbacks.
    for (Active &active : m_active) {
        curl_multi_remove_handle(m_multi, active.handle);
        curl_easy_cleanup(active.handle);
    }
    m_active.clear();
}

void BVHTTPNetworkThread::addPending()
{
    std::vector<std::shared_ptr<BVHTTPRequest>> pending;
    {
        std::lock_guard lock(m_mutex);
        pending.swap(m_pending);
    }
    for (std::shared_ptr<BVHTTPRequest> &request : pending) {
        BVError error;
        CURL *handle = nullptr;
        if (request->isCancelled())
            error = BVError::withDescription(BVHTTPRequest::errorDomain, BVHTTPRequest::RequestCancelledError,
                QStringLiteral("The request was cancelled"));
        else if (request->prepare(&error))
            handle = request->createHandle(&error);
        if (!handle) {
            request->completeWith(error);
            continue;
        }
        curl_multi_add_handle(m_multi, handle);
        m_active.push_back({std::move(request), handle});
    }
}

// Cancelled requests and attempts without network activity for their time-out leave curl here.
void BVHTTPNetworkThread::checkRequests()
{
    const auto now = std::chrono::steady_clock::now();
    for (size_t i = 0; i < m_active.size();) {
        BVHTTPRequest *request = m_active[i].request.get();
        const bool cancelled = request->isCancelled();
        if (!cancelled && !request->hasTimedOut(now)) {
            request->reportProgress(false);
            ++i;
            continue;
        }
        CURL *handle = m_active[i].handle;
        curl_multi_remove_handle(m_multi, handle);
        if (!cancelled)
            request->m_timedOut = true;
        request->finishAttempt(
            cancelled ? CURLE_ABORTED_BY_CALLBACK : CURLE_OPERATION_TIMEDOUT, 0, nullptr, -1, nullptr);
        if (request->complete()) {
            curl_easy_cleanup(handle);
            m_active.erase(m_active.begin() + long(i));
        } else {
            curl_multi_add_handle(m_multi, handle);
            ++i;
        }
    }
}
