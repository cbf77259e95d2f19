#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QThread>

// How the server answers one path.
struct HttpReply {
    int status = 200;
    QByteArray body;
    bool silent = false;     // read the request, then never answer
    int chunkSize = 0;       // > 0: send the body in pieces of this size ...
    int chunkIntervalMs = 0; // ... with this pause between them
};

// A small HTTP/1.1 server on 127.0.0.1 with its own thread and event loop, so that
// the test thread may block while it serves.
class LocalHttpServer final {
public:
    LocalHttpServer();
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    // path without the query, e.g. "/Description.xml"; unknown paths get 404.
    void setReply(const QByteArray& path, const HttpReply& reply);
    void reset();
    QString url() const;
    // Request targets (path and query) in the order they came.
    QList<QByteArray> requests() const;

    // An address on 127.0.0.1 where nothing listens.
    static QString closedPortUrl();

private:
    class Engine;

    QThread thread_;
    Engine* engine_;
};
