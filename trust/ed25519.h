#pragma once

#include <QByteArray>
#include <QString>

#include <openssl/evp.h>

#include <memory>

struct EvpKeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using EvpKey = std::unique_ptr<EVP_PKEY, EvpKeyFree>;

constexpr int ed25519SignatureSize = 64;

// An Ed25519 public key from a PEM file (SubjectPublicKeyInfo); null when the
// file is missing, unreadable or holds a key of another kind.
EvpKey readEd25519PublicKey(const QString& path);

// Whether signature is the key's Ed25519 signature over exactly these bytes.
bool ed25519Verify(EVP_PKEY* key, const QByteArray& data, const QByteArray& signature);
