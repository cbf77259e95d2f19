#pragma once

#include "trust/ed25519.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// A versioned list of the public keys to trust, as a source publishes it in
// "Keys.xml" (signed in "Keys.xml.sig" by a key of the list before it):
//
//   <KeyList Version="2">
//     <Key Id="0123456789abcdef" Ed25519="...64 hexadecimal digits..."/>
//   </KeyList>
//
// Each key is its raw 32-byte public key; its Id must be the id computed from it.
struct TrustedKey {
    QString id;
    EvpKey key;
};

struct KeyList {
    qint64 version = 0;
    std::vector<TrustedKey> keys;

    // The id of the listed key whose signature over data this is; empty when none.
    QString signerOf(const QByteArray& data, const QByteArray& signature) const;
    QStringList ids() const;
};

// A list is a few hundred bytes; anything far larger is not one.
inline constexpr qint64 maxKeyListBytes = 64 * 1024;

// The list these bytes hold; nullopt with error set when they are no
// well-formed list of at least one key at a version of 1 or more.
std::optional<KeyList> parseKeyList(const QByteArray& bytes, QString& error);

// The list of an installation that holds only the public key in the PEM file
// at path: that key at version 1. nullopt when the file holds no Ed25519 key.
std::optional<KeyList> singleKeyList(const QString& path);

// The bytes of a list of these keys at this version.
QByteArray keyListXml(qint64 version, const std::vector<TrustedKey>& keys);
