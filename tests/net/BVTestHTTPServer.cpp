#include "BVTestHTTPServer.h"

#include <QTcpSocket>

BVTestHTTPServer::BVTestHTTPServer(Handler handler)
    : m_handler(std::move(handler))
{
    m_server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] { onConnection(); });
}

QByteArray BVTestHTTPServer::baseURL() const
{
    return "http://127.0.0.1:" + QByteArray::number(port());
}

void BVTestHTTPServer::onConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        QObject::connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_connections.remove(socket);
            socket->deleteLater();
        });
    }
}

void BVTestHTTPServer::onReadyRead(QTcpSocket *socket)
{
    Connection &connection = m_connections[socket];
    connection.buffer += socket->readAll();
    Request &request = connection.request;
    if (!connection.headParsed) {
        const qsizetype headEnd = connection.buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        connection.headParsed = true;
        request.head = connection.buffer.left(headEnd + 4);
        const QList<QByteArray> lines = connection.buffer.left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(
                    lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        connection.length = request.headers.value("content-length", "0").toLongLong();
        connection.buffer.remove(0, headEnd + 4);
    }
    if (connection.buffer.size() < connection.length)
        return;
    request.body = connection.buffer.left(connection.length);
    m_requests.append(request);
    connection = Connection();
    const Reply reply = m_handler ? m_handler(m_requests.last()) : Reply();
    if (reply.hang)
        return;
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + " Status\r\n";
    for (const auto &[name, value] : reply.headers)
        out += name + ": " + value + "\r\n";
    out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\nConnection: close\r\n\r\n";
    out += reply.body;
    socket->write(out);
    socket->disconnectFromHost();
}
