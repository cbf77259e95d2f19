#include "packages/descriptionfields.h"

#include <QUrl>

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

QStringList mirrorBases(const QDomDocument& doc)
{
    const QDomNode serverBlock = doc.documentElement().firstChild().nextSibling().nextSibling();
    QStringList bases;
    for (QDomNode node = serverBlock.firstChild().nextSibling();
         !node.isNull() && bases.size() < maxMirrors; node = node.nextSibling()) {
        if (node.isElement() && node.nodeName() == QLatin1String("Mirror"))
            bases << node.toElement().text();
    }
    return bases;
}

QString shownMirror(const QString& base)
{
    return QUrl(base).adjusted(QUrl::RemoveUserInfo).toString();
}
