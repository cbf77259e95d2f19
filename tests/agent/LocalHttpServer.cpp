#include "LocalHttpServer.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace {

QByteArray statusLine(int status)
{
    const QByteArray reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Error";
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
}

QByteArray header(const HttpReply& reply)
{
    return statusLine(reply.status) + "Content-Length: " + QByteArray::number(reply.body.size()) +
           "\r\nConnection: close\r\n\r\n";
}

// Sends the body piece by piece; the timer belongs to the socket and dies with it.
void trickle(QTcpSocket* socket, const HttpReply& reply)
{
    auto* timer = new QTimer(socket);
    auto sent = std::make_shared<qsizetype>(0);
    QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, reply, sent] {
        socket->write(reply.body.mid(*sent, reply.chunkSize));
        *sent += reply.chunkSize;
        if (*sent >= reply.body.size()) {
            timer->stop();
            socket->disconnectFromHost();
        }
    });
    timer->start(reply.chunkIntervalMs);
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

    void setReply(const QByteArray& path, const HttpReply& reply)
    {
        const QMutexLocker lock(&mutex_);
        replies_.insert(path, reply);
    }

    void reset()
    {
        const QMutexLocker lock(&mutex_);
        replies_.clear();
        requests_.clear();
    }

    QList<QByteArray> requests() const
    {
        const QMutexLocker lock(&mutex_);
        return requests_;
    }

private:
    void accept(QTcpSocket* socket)
    {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto received = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, received] {
            *received += socket->readAll();
            if (!received->contains("\r\n\r\n"))
                return;
            const QList<QByteArray> requestLine =
                received->left(received->indexOf("\r\n")).split(' ');
            received->clear();
            answer(socket, requestLine.value(1));
        });
    }

    void answer(QTcpSocket* socket, const QByteArray& target)
    {
        const HttpReply reply = record(target);
        if (reply.silent)
            return;
        socket->write(header(reply));
        if (reply.chunkSize > 0) {
            trickle(socket, reply);
            return;
        }
        socket->write(reply.body);
        socket->disconnectFromHost();
    }

    HttpReply record(const QByteArray& target)
    {
        const QMutexLocker lock(&mutex_);
        requests_.append(target);
        const QByteArray path = target.split('?').front();
        HttpReply notFound;
        notFound.status = 404;
        return replies_.value(path, notFound);
    }

    QTcpServer* server_ = nullptr;
    quint16 port_ = 0;
    mutable QMutex mutex_;
    QHash<QByteArray, HttpReply> replies_;
    QList<QByteArray> requests_;
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
    engine_->setReply(path, reply);
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

QString LocalHttpServer::closedPortUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}
