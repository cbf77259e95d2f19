#pragma once

#include <QByteArray>
#include <QDomDocument>
#include <QString>

// One package offered by the description.
struct PackageInfo {
    QString priorityFlag;
    QString filename;
    QString size;
    QString md5;
    QString url;
    QString operatingSystem;
    QString packageClass;
    QString language;
    QString version;
    QString text;
};

// Reads "Description.xml" by fixed child positions rather than by search: the
// names of the root, the package list and the server block play no part.
class XmlParser final {
public:
    XmlParser() = default;

    // Loads the description at path (an installation's "Description.xml"). The
    // file is read once, without following a link, and handed to setContent.
    void setFile(const QString& path);
    // Parses a description's bytes and keeps them in content: the signature is
    // checked over exactly what was parsed. Bytes the checks refuse, or that
    // are not well-formed, leave doc empty and get() finds nothing.
    void setContent(const QByteArray& bytes);
    // Walks the loaded document; false when the header has no child nodes.
    bool get();

    QString version;
    QString description;
    QString device;
    QString clientGroup;
    QString clientId;
    PackageInfo software;
    PackageInfo firmware;
    QString ftpIp;
    QString ftpPort;
    QString ftpUserName;
    QString ftpPassword;
    QDomDocument doc;
    QString flag;
    qint32 packageCount = 0;
    QByteArray content;
};
