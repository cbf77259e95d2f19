#include "packages/descriptioncheck.h"

#include <QXmlStreamReader>

std::optional<QString> descriptionRefusal(const QByteArray& content)
{
    if (content.size() > MaxDescriptionBytes)
        return QStringLiteral("larger than %1 bytes").arg(MaxDescriptionBytes);
    QXmlStreamReader reader(content);
    reader.setNamespaceProcessing(false); // as the parse reads it
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            return QStringLiteral("a document type declaration");
        case QXmlStreamReader::StartElement:
            if (++depth > MaxDescriptionDepth)
                return QStringLiteral("elements nested deeper than %1").arg(MaxDescriptionDepth);
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
    return std::nullopt;
}
