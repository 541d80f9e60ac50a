#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

#include <functional>

class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 for the request tests. Runs in the test's thread (spin the
// event loop with BVTest::waitFor), records every request it receives byte for byte and answers
// through a handler. One request per connection.
class BVTestHTTPServer : public QObject
{
public:
    struct Request
    {
        QByteArray method;
        QByteArray target;
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
        QByteArray head; // request line and headers as received
    };
    struct Reply
    {
        int status = 200;
        QList<std::pair<QByteArray, QByteArray>> headers;
        QByteArray body;
        bool hang = false; // never answer
    };
    using Handler = std::function<Reply(const Request &)>;

    explicit BVTestHTTPServer(Handler handler = {});
    quint16 port() const { return m_server.serverPort(); }
    QByteArray baseURL() const;
    QUrl url(const QByteArray &path) const { return QUrl(QString::fromLatin1(baseURL() + path)); }
    const QList<Request> &requests() const { return m_requests; }
    void setHandler(Handler handler) { m_handler = std::move(handler); }

private:
    void onConnection();
    void onReadyRead(QTcpSocket *socket);

    QTcpServer m_server;
    Handler m_handler;
    QList<Request> m_requests;
    struct Connection
    {
        QByteArray buffer;
        bool headParsed = false;
        qsizetype length = 0;
        Request request;
    };
    QMap<QTcpSocket *, Connection> m_connections;
};
