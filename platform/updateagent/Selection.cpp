#include "Selection.h"

#include <QFile>
#include <QXmlStreamReader>

namespace updateagent {

namespace {

QString* serverField(FtpServer& server, QStringView name)
{
    if (name == u"IP")
        return &server.ip;
    if (name == u"Port")
        return &server.port;
    if (name == u"UserName")
        return &server.userName;
    if (name == u"Password")
        return &server.password;
    return nullptr;
}

void readServer(QXmlStreamReader& reader, FtpServer& server)
{
    while (reader.readNextStartElement()) {
        if (QString* field = serverField(server, reader.name()))
            *field = reader.readElementText(QXmlStreamReader::IncludeChildElements);
        else
            reader.skipCurrentElement();
    }
}

void readFtp(QXmlStreamReader& reader, FtpServer& server)
{
    while (reader.readNextStartElement()) {
        if (reader.name() == u"Server")
            readServer(reader, server);
        else
            reader.skipCurrentElement();
    }
}

UpdateFileEntry entryFrom(const QXmlStreamAttributes& attributes)
{
    return {attributes.value(QLatin1StringView("Filename")).toString(),
            attributes.value(QLatin1StringView("Size")).toString(),
            attributes.value(QLatin1StringView("MD5")).toString(),
            attributes.value(QLatin1StringView("URL")).toString()};
}

void readFiles(QXmlStreamReader& reader, std::vector<UpdateFileEntry>& files)
{
    while (reader.readNextStartElement()) {
        if (reader.name() == u"UpdateFile")
            files.push_back(entryFrom(reader.attributes()));
        reader.skipCurrentElement();
    }
}

void readMirrors(QXmlStreamReader& reader, QStringList& mirrors)
{
    while (reader.readNextStartElement()) {
        if (reader.name() == u"Mirror")
            mirrors << reader.readElementText(QXmlStreamReader::IncludeChildElements);
        else
            reader.skipCurrentElement();
    }
}

} // namespace

std::optional<Selection> parseSelection(const QByteArray& document)
{
    QXmlStreamReader reader(document);
    if (!reader.readNextStartElement() || reader.name() != u"UpdateConfig")
        return std::nullopt;
    Selection selection;
    while (reader.readNextStartElement()) {
        if (reader.name() == u"UpdateFiles")
            readFiles(reader, selection.files);
        else if (reader.name() == u"Ftp")
            readFtp(reader, selection.server);
        else if (reader.name() == u"Mirrors")
            readMirrors(reader, selection.mirrors);
        else
            reader.skipCurrentElement();
    }
    // Read on to the end so that damage after the root element is noticed too.
    while (!reader.atEnd())
        reader.readNext();
    if (reader.hasError())
        return std::nullopt;
    return selection;
}

std::optional<Selection> readSelection(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parseSelection(file.readAll());
}

bool isPlainFileName(const QString& name)
{
    if (name.isEmpty() || name == u"." || name == u"..")
        return false;
    for (const QChar c : name) {
        if (c == u'/' || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

} // namespace updateagent
