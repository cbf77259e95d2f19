#pragma once

#include <QByteArray>
#include <QDomDocument>
#include <QString>
#include <QStringList>

#include <optional>

// A delta written beside a description, with what its <Delta> element says.
struct PublishedDelta {
    QString base;     // tree digest of the old package
    QString filename; // beside the description
    qint64 size = 0;
    QString md5;
    QString sha256;
    QString manifest; // digest of the delta's manifest
};

// The delta's file name for a package made from the package at basePath.
QString deltaFileName(const QString& packagePath, const QString& basePath);

// Makes the delta from the package oldZip to newZip and writes it to output
// whole; nullopt with error set when a package cannot be unpacked or read.
std::optional<PublishedDelta> publishDelta(const QString& oldZip, const QString& newZip,
                                           const QString& output, QString& error);

// The problems of the deltas the description offers for this package class:
// their attributes, and the files lying in directory (all of them required
// by verify; lint says which it could not check).
void deltaProblems(const QString& directory, const QDomDocument& doc, const QString& packageClass,
                   bool filesRequired, QStringList& problems);

// One line for each delta the description offers for this package class.
void reportDeltas(const QDomDocument& doc, const QString& packageClass);

// delta OLD.zip NEW.zip OUTPUT: one delta, with its size against the package's.
int deltaCommand(const QStringList& arguments);
