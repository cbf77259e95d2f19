#include "delta/deltaoffer.h"

#include "base/sha256.h"
#include "packages/descriptionfields.h"
#include "packages/plainfilename.h"
#include "packages/xmlparser.h"

#include <QRegularExpression>

namespace {

bool matches(const QString& text, const char* pattern)
{
    return QRegularExpression(QLatin1String(pattern)).match(text).hasMatch();
}

} // namespace

QList<DeltaOffer> deltaOffers(const QDomDocument& doc, const QString& packageClass)
{
    QList<DeltaOffer> offers;
    const QDomElement package = packageElement(doc, packageClass);
    for (QDomElement delta = package.firstChildElement(QStringLiteral("Delta")); !delta.isNull();
         delta = delta.nextSiblingElement(QStringLiteral("Delta"))) {
        const auto value = [&delta](const char* name) { return delta.attribute(name); };
        offers.append({value("Base"), value("Filename"), value("Size"), value("MD5"),
                       value("SHA256"), value("Manifest"), value("URL")});
    }
    return offers;
}

QStringList namedPackageFiles(const XmlParser& parser)
{
    QStringList names;
    for (const PackageInfo* package : {&parser.software, &parser.firmware}) {
        if (package->packageClass.isEmpty())
            continue;
        names << package->filename;
        for (const DeltaOffer& offer : deltaOffers(parser.doc, package->packageClass))
            names << offer.filename;
    }
    names.removeDuplicates();
    return names;
}

QString offerProblem(const DeltaOffer& offer)
{
    if (!isPlainFileName(offer.filename))
        return QStringLiteral("unsafe or empty Filename \"%1\"").arg(offer.filename);
    if (!matches(offer.size, "^[0-9]{1,18}$"))
        return QStringLiteral("Size \"%1\" is no number of bytes").arg(offer.size);
    if (!matches(offer.md5, "^[0-9a-fA-F]{32}$"))
        return QStringLiteral("MD5 \"%1\" is no MD5 digest").arg(offer.md5);
    if (!isSha256Text(offer.sha256) || !isSha256Text(offer.manifest) || !isSha256Text(offer.base))
        return QStringLiteral("Base, SHA256 and Manifest must be 64 lowercase hex digits");
    if (offer.url.isEmpty())
        return QStringLiteral("no URL");
    return {};
}
