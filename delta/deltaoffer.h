#pragma once

#include <QDomDocument>
#include <QList>
#include <QString>
#include <QStringList>

class XmlParser;

// A <Delta> element inside a package element of the description: the package
// rebuilt from the base tree whose digest is Base. The positional reader
// never looks inside a package element and reads only its text, which an
// empty element leaves as it was, so an older updater reads the same fields.
struct DeltaOffer {
    QString base;
    QString filename;
    QString size;
    QString md5;
    QString sha256;
    QString manifest;
    QString url;
};

// The offers of the package element the positional reader takes for this
// "Class" (of the first two, the last one of that class), in document order.
QList<DeltaOffer> deltaOffers(const QDomDocument& doc, const QString& packageClass);

// The file names a description gives the packages it offers and their
// deltas, in document order, each once; as written, checked by none.
QStringList namedPackageFiles(const XmlParser& parser);

// Why the updater cannot take the offer; empty when it can.
QString offerProblem(const DeltaOffer& offer);
