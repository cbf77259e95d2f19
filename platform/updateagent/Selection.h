#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace updateagent {

// One <UpdateFile> of "UserSelection.xml", its attributes as written.
struct UpdateFileEntry {
    QString fileName;
    QString size;
    QString md5;
    QString url;
};

// The <Ftp><Server> block: the source of entries whose URL is relative.
struct FtpServer {
    QString ip;
    QString port;
    QString userName;
    QString password;
};

struct Selection {
    std::vector<UpdateFileEntry> files;
    FtpServer server;
    QStringList mirrors; // <Mirrors><Mirror>: URL bases that hold the same files
};

// nullopt when the document is not well-formed or its root is not <UpdateConfig>.
std::optional<Selection> parseSelection(const QByteArray& document);
std::optional<Selection> readSelection(const QString& path);

// True for a name that stays inside the directory it is joined to: not empty, not
// "." or "..", without a slash or a control character.
bool isPlainFileName(const QString& name);

} // namespace updateagent
