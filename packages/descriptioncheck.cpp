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
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > MaxDescriptionDepth)
            return QStringLiteral("elements nested deeper than %1").arg(MaxDescriptionDepth);
        if (token == QXmlStreamReader::EndElement)
            --depth;
    }
    return std::nullopt;
}
