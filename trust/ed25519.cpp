#include "trust/ed25519.h"

#include <QCryptographicHash>
#include <QFile>

#include <openssl/bio.h>
#include <openssl/pem.h>

EvpKey readEd25519PublicKey(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    const QByteArray pem = file.read(64 * 1024); // a PEM public key is a few hundred bytes
    BIO* bio = BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size()));
    if (bio == nullptr)
        return nullptr;
    EvpKey key(PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr));
    BIO_free(bio);
    // Without a digest EVP_DigestVerify would accept any algorithm's key:
    // only the one pinned kind is taken.
    if (key && EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519)
        key.reset();
    return key;
}

bool ed25519Verify(EVP_PKEY* key, const QByteArray& data, const QByteArray& signature)
{
    if (key == nullptr || signature.size() != ed25519SignatureSize)
        return false;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (context == nullptr)
        return false;
    const bool valid =
        EVP_DigestVerifyInit(context, nullptr, nullptr, nullptr, key) == 1 &&
        EVP_DigestVerify(context, reinterpret_cast<const unsigned char*>(signature.constData()),
                         static_cast<size_t>(signature.size()),
                         reinterpret_cast<const unsigned char*>(data.constData()),
                         static_cast<size_t>(data.size())) == 1;
    EVP_MD_CTX_free(context);
    return valid;
}

QByteArray ed25519RawPublicKey(EVP_PKEY* key)
{
    QByteArray raw(ed25519PublicKeySize, '\0');
    size_t length = ed25519PublicKeySize;
    if (key == nullptr || EVP_PKEY_get_id(key) != EVP_PKEY_ED25519 ||
        EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char*>(raw.data()), &length) !=
            1 ||
        length != ed25519PublicKeySize)
        return {};
    return raw;
}

EvpKey ed25519KeyFromRaw(const QByteArray& raw)
{
    if (raw.size() != ed25519PublicKeySize)
        return nullptr;
    return EvpKey(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(raw.constData()),
        ed25519PublicKeySize));
}

QString ed25519KeyId(EVP_PKEY* key)
{
    const QByteArray raw = ed25519RawPublicKey(key);
    if (raw.isEmpty())
        return {};
    return QString::fromLatin1(
        QCryptographicHash::hash(raw, QCryptographicHash::Sha256).toHex().left(16));
}
