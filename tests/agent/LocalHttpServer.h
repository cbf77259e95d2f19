#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QThread>

#include <utility>

// How the server answers one request for a path. Positions count from the file's
// first byte, so they mean the same for a request that continues the file.
struct HttpReply {
    HttpReply(int status = 200, QByteArray body = {}) : status(status), body(std::move(body)) {}

    int status = 200;
    QByteArray body;
    bool silent = false;     // read the request, then never answer
    int chunkSize = 0;       // > 0: send the body in pieces of this size ...
    int chunkIntervalMs = 0; // ... with this pause between them
    QByteArray headers;      // more header lines, each ended by CR LF
    QByteArray etag;         // sent as ETag; an If-Range naming another gets the whole file
    bool ignoreRange = false;
    qsizetype dropAt = -1;  // close the connection on reaching this position
    qsizetype stallAt = -1; // on reaching this position, send nothing for stallMs
    int stallMs = 0;
    int sendBuffer = 0; // > 0: the socket's send buffer, so that what the kernel took has
                        // nearly crossed the link
};

// A small HTTP/1.1 server on 127.0.0.1 with its own thread and event loop, so that
// the test thread may block while it serves. A 200 reply honours "Range: bytes=N-".
class LocalHttpServer final {
public:
    LocalHttpServer();
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    // path without the query, e.g. "/Description.xml"; unknown paths get 404.
    void setReply(const QByteArray& path, const HttpReply& reply);
    // One reply for each request in turn; the last one answers all after it.
    void setReplies(const QByteArray& path, const QList<HttpReply>& replies);
    void reset();
    QString url() const;
    // Request targets (path and query) in the order they came.
    QList<QByteArray> requests() const;
    // Bytes of bodies sent, over all requests since the last reset.
    qint64 bytesServed() const;
    // Bytes the kernel took from the server's sockets since the last reset.
    qint64 bytesWritten() const;

    // An address on 127.0.0.1 where nothing listens.
    static QString closedPortUrl();

private:
    class Engine;

    QThread thread_;
    Engine* engine_;
};
