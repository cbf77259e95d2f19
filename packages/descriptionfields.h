#pragma once

#include <QDomDocument>
#include <QString>
#include <QStringList>

// The fields of a description that the positional walk of XmlParser does not
// read, found by the same rules: fixed child positions, exact names.

// Header child at position (from 1), when it is an element of that name.
QDomElement headerChild(const QDomDocument& doc, int position, const QString& name);
inline QDomElement issuedElement(const QDomDocument& doc)
{
    return headerChild(doc, 6, QStringLiteral("Issued"));
}
inline QDomElement expiresElement(const QDomDocument& doc)
{
    return headerChild(doc, 7, QStringLiteral("Expires"));
}

// Whether the header says "new version": it is not an element named "Flag".
bool offersNewVersion(const QDomDocument& doc);

// The package element whose record the parser filled for this "Class" (of the
// first two, the last one of that class), and its "SHA256" attribute.
QDomElement packageElement(const QDomDocument& doc, const QString& packageClass);
QString packageSha256(const QDomDocument& doc, const QString& packageClass);

// Mirrors: URL bases that hold the same files as the packages' own URLs, each
// a <Mirror> of the server block after its <Server>, in the order they are
// tried; at most maxMirrors are read.
inline constexpr int maxMirrors = 8;
QStringList mirrorBases(const QDomDocument& doc);

// A mirror's base as records and the window show it: without a user name or
// password.
QString shownMirror(const QString& base);
