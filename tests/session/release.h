#pragma once

#include "delta/deltamaker.h"
#include "delta/packagetree.h"
#include "software/testsupport.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

// How a package came: not at all, whole, or (the kinds from Delta on) as a
// delta for the tree kept here.
// A ReservedDelta rebuilds a tree that carries a name the install keeps for itself.
enum class Came { Absent, Whole, Tampered, Broken, Delta, DamagedDelta, StaleDelta, ReservedDelta };

inline QByteArray sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// One package of the installation at base: the tree kept from the last
// update, the new package, and the delta between them.
struct Release {
    QString base;
    QString name; // "sw" or "fw"
    QString kept;
    QByteArray zip;
    QByteArray delta;

    QString path(const QString& suffix) const { return base + '/' + name + suffix; }

    // The description's entry; empty when the package or its delta cannot be made.
    QByteArray entry(const QByteArray& packageClass, Came came, const QString& work)
    {
        writeTree(base + '/' + kept, {{"/a.txt", "old"}});
        writeTree(work, {{"/a.txt", "new"}});
        if (came == Came::ReservedDelta)
            writeTree(work, {{"/qt.conf", "[Paths]\nPlugins=/tmp\n"}});
        QString error;
        if (!makeZip(work, work + ".zip"))
            return {};
        zip = readFile(work + ".zip");
        delta = makeDelta(base + '/' + kept, work, error).value_or(QByteArray());
        const QByteArray offer =
            "<Delta Base=\"" + treeDigest(*listPackageTree(base + '/' + kept)) + "\" Filename=\"" +
            name.toLatin1() + ".delta\" Size=\"4096\" MD5=\"" + QByteArray(32, '0') +
            "\" SHA256=\"" + sha256(delta) + "\" Manifest=\"" + manifestDigest(delta) +
            "\" URL=\"u\"/>";
        const bool viaDelta = came >= Came::Delta;
        return delta.isEmpty()
                   ? QByteArray()
                   : "<Package Class=\"" + packageClass + "\" Filename=\"" + name.toLatin1() +
                         ".zip\" Size=\"300000\" Version=\"2.0\" SHA256=\"" +
                         sha256(came == Came::Broken ? "no zip" : zip) + "\">2.0" +
                         (viaDelta ? offer : QByteArray()) + "</Package>";
    }

    // What the agent left once the download ended.
    void downloaded(Came came) const
    {
        if (came == Came::Whole)
            writeFile(path(".zip"), zip);
        else if (came == Came::Tampered)
            writeFile(path(".zip"), zip + "tail");
        else if (came == Came::Broken)
            writeFile(path(".zip"), "no zip");
        else if (came != Came::Absent)
            writeFile(path(".delta"), came == Came::DamagedDelta ? delta + '!' : delta);
        if (came == Came::StaleDelta)
            writeFile(base + '/' + kept + "/a.txt", "changed since");
    }
};
