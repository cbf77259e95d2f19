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

constexpr int ed25519PublicKeySize = 32;

// The key's id: the first 16 hexadecimal digits of the SHA-256 of its raw
// 32-byte public key; a private key has its public half's id. Empty when the
// key is not an Ed25519 key.
QString ed25519KeyId(EVP_PKEY* key);

// The raw 32-byte public key, and a public key made from one (null when the
// bytes are not 32).
QByteArray ed25519RawPublicKey(EVP_PKEY* key);
EvpKey ed25519KeyFromRaw(const QByteArray& raw);

// Whether signature is the key's Ed25519 signature over exactly these bytes.
bool ed25519Verify(EVP_PKEY* key, const QByteArray& data, const QByteArray& signature);
