#pragma once

#include <QByteArray>
#include <QString>

// The private key's file; its public half is "update-key.pem", the name the
// updater looks for in its installation.
inline constexpr char privateKeyName[] = "publisher-key.pem";
inline constexpr char publicKeyName[] = "update-key.pem";

// A new Ed25519 key pair in directory (created when missing), the private key
// readable by its owner only. Existing keys are never overwritten.
bool generateKeyPair(const QString& directory, QString& error);

// The 64-byte Ed25519 signature over data with the private key in keyPath;
// keyId, when given, gets the key's id.
bool signWithKey(const QString& keyPath, const QByteArray& data, QByteArray& signature,
                 QString& error, QString* keyId = nullptr);

// The id of the public key in the PEM file at path; empty when it holds none.
QString publicKeyId(const QString& path);
