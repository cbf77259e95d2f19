#include "LocalHttpServer.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <atomic>
#include <memory>

namespace {

struct Request {
    QByteArray target;
    qsizetype rangeStart = -1; // from "Range: bytes=N-"
    QByteArray ifRange;
};

QByteArray headerValue(const QByteArray& head, const QByteArray& name)
{
    for (const QByteArray& line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

Request parseRequest(const QByteArray& head)
{
    Request request;
    request.target = head.left(head.indexOf("\r\n")).split(' ').value(1);
    const QByteArray range = headerValue(head, "Range");
    if (range.startsWith("bytes=") && range.endsWith('-')) {
        bool ok = false;
        const qsizetype start = range.mid(6).chopped(1).toLongLong(&ok);
        request.rangeStart = ok ? start : -1;
    }
    request.ifRange = headerValue(head, "If-Range");
    return request;
}

QByteArray statusLine(int status)
{
    const QByteArray reason = status == 200   ? "OK"
                              : status == 206 ? "Partial Content"
                              : status == 404 ? "Not Found"
                                              : "Error";
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
}

// Where the answer starts in the body: a range is served when the reply is the
// file, the range lies in it and an If-Range names the same file.
qsizetype servedFrom(const HttpReply& reply, const Request& request)
{
    const bool sameFile = request.ifRange.isEmpty() || request.ifRange == reply.etag;
    if (reply.status != 200 || reply.ignoreRange || !sameFile || request.rangeStart < 0 ||
        request.rangeStart >= reply.body.size())
        return 0;
    return request.rangeStart;
}

QByteArray header(const HttpReply& reply, qsizetype from)
{
    const qsizetype size = reply.body.size();
    QByteArray head = statusLine(from > 0 ? 206 : reply.status) +
                      "Content-Length: " + QByteArray::number(size - from) + "\r\n";
    if (from > 0)
        head += "Content-Range: bytes " + QByteArray::number(from) + '-' +
                QByteArray::number(size - 1) + '/' + QByteArray::number(size) + "\r\n";
    if (!reply.etag.isEmpty())
        head += "ETag: " + reply.etag + "\r\n";
    return head + reply.headers + "Connection: close\r\n\r\n";
}

} // namespace

class LocalHttpServer::Engine final : public QObject {
public:
    void listen()
    {
        server_ = new QTcpServer(this);
        server_->listen(QHostAddress::LocalHost);
        port_ = server_->serverPort();
        connect(server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_->nextPendingConnection())
                accept(socket);
        });
    }

    quint16 port() const { return port_; }

    void setReplies(const QByteArray& path, const QList<HttpReply>& replies)
    {
        const QMutexLocker lock(&mutex_);
        replies_.insert(path, replies);
    }

    void reset()
    {
        const QMutexLocker lock(&mutex_);
        replies_.clear();
        requests_.clear();
        bytesServed_ = 0;
        bytesWritten_ = 0;
    }

    QList<QByteArray> requests() const
    {
        const QMutexLocker lock(&mutex_);
        return requests_;
    }

    qint64 bytesServed() const { return bytesServed_; }
    qint64 bytesWritten() const { return bytesWritten_; }

private:
    void accept(QTcpSocket* socket)
    {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::bytesWritten, socket,
                [this](qint64 bytes) { bytesWritten_ += bytes; });
        auto received = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, received] {
            *received += socket->readAll();
            const qsizetype end = received->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const Request request = parseRequest(received->left(end));
            received->clear();
            answer(socket, request);
        });
    }

    void answer(QTcpSocket* socket, const Request& request)
    {
        const HttpReply reply = record(request.target);
        if (reply.silent)
            return;
        const qsizetype from = servedFrom(reply, request);
        if (reply.sendBuffer > 0)
            socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, reply.sendBuffer);
        socket->write(header(reply, from));
        if (reply.chunkSize > 0) {
            trickle(socket, reply);
            return;
        }
        qsizetype until = reply.body.size();
        if (reply.dropAt > from)
            until = std::min(until, reply.dropAt);
        if (reply.stallAt > from && reply.stallAt < until) {
            send(socket, reply.body, from, reply.stallAt);
            QTimer::singleShot(reply.stallMs, socket, [this, socket, reply, until] {
                send(socket, reply.body, reply.stallAt, until);
                socket->disconnectFromHost();
            });
            return;
        }
        send(socket, reply.body, from, until);
        socket->disconnectFromHost();
    }

    void send(QTcpSocket* socket, const QByteArray& body, qsizetype from, qsizetype until)
    {
        socket->write(body.mid(from, until - from));
        bytesServed_ += until - from;
    }

    // Sends the body piece by piece; the timer belongs to the socket and dies with it.
    void trickle(QTcpSocket* socket, const HttpReply& reply)
    {
        auto* timer = new QTimer(socket);
        auto sent = std::make_shared<qsizetype>(0);
        connect(timer, &QTimer::timeout, socket, [this, socket, timer, reply, sent] {
            const qsizetype until = std::min(*sent + reply.chunkSize, reply.body.size());
            send(socket, reply.body, *sent, until);
            *sent = until;
            if (*sent >= reply.body.size()) {
                timer->stop();
                socket->disconnectFromHost();
            }
        });
        timer->start(reply.chunkIntervalMs);
    }

    HttpReply record(const QByteArray& target)
    {
        const QMutexLocker lock(&mutex_);
        const QByteArray path = target.split('?').front();
        const qsizetype earlier =
            std::count_if(requests_.begin(), requests_.end(), [&path](const QByteArray& request) {
                return request.split('?').front() == path;
            });
        requests_.append(target);
        HttpReply notFound;
        notFound.status = 404;
        const QList<HttpReply> replies = replies_.value(path, {notFound});
        return replies.value(std::min(earlier, replies.size() - 1));
    }

    QTcpServer* server_ = nullptr;
    quint16 port_ = 0;
    mutable QMutex mutex_;
    QHash<QByteArray, QList<HttpReply>> replies_;
    QList<QByteArray> requests_;
    std::atomic<qint64> bytesServed_{0};
    std::atomic<qint64> bytesWritten_{0};
};

LocalHttpServer::LocalHttpServer() : engine_(new Engine)
{
    engine_->moveToThread(&thread_);
    thread_.start();
    QMetaObject::invokeMethod(
        engine_, [this] { engine_->listen(); }, Qt::BlockingQueuedConnection);
}

LocalHttpServer::~LocalHttpServer()
{
    QMetaObject::invokeMethod(
        engine_, [this] { delete engine_; }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

void LocalHttpServer::setReply(const QByteArray& path, const HttpReply& reply)
{
    engine_->setReplies(path, {reply});
}

void LocalHttpServer::setReplies(const QByteArray& path, const QList<HttpReply>& replies)
{
    engine_->setReplies(path, replies);
}

void LocalHttpServer::reset()
{
    engine_->reset();
}

QString LocalHttpServer::url() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(engine_->port());
}

QList<QByteArray> LocalHttpServer::requests() const
{
    return engine_->requests();
}

qint64 LocalHttpServer::bytesServed() const
{
    return engine_->bytesServed();
}

qint64 LocalHttpServer::bytesWritten() const
{
    return engine_->bytesWritten();
}

QString LocalHttpServer::closedPortUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}
