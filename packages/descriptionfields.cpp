#include "packages/descriptionfields.h"

QDomElement headerChild(const QDomDocument& doc, int position, const QString& name)
{
    QDomNode node = doc.documentElement().firstChild().firstChild();
    for (int k = 1; k < position; ++k)
        node = node.nextSibling();
    const QDomElement element = node.toElement();
    return element.tagName() == name ? element : QDomElement();
}

bool offersNewVersion(const QDomDocument& doc)
{
    const QDomNode header = doc.documentElement().firstChild();
    return !(header.isElement() && header.nodeName() == QLatin1String("Flag"));
}

QDomElement packageElement(const QDomDocument& doc, const QString& packageClass)
{
    QDomElement found;
    QDomNode package = doc.documentElement().firstChild().nextSibling().firstChild();
    for (int position = 0; position < 2; ++position, package = package.nextSibling()) {
        const QDomElement element = package.toElement();
        if (element.attribute(QStringLiteral("Class")) == packageClass)
            found = element;
    }
    return found;
}

QString packageSha256(const QDomDocument& doc, const QString& packageClass)
{
    return packageElement(doc, packageClass).attribute(QStringLiteral("SHA256"));
}
