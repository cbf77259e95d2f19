#include "keys.h"

#include "outputfile.h"
#include "trust/ed25519.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

namespace {

QByteArray bioContent(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, static_cast<int>(size));
}

// The PEM texts of a fresh key pair; empty on failure.
std::pair<QByteArray, QByteArray> newKeyPairPem()
{
    const EvpKey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    BIO* privateBio = BIO_new(BIO_s_mem());
    BIO* publicBio = BIO_new(BIO_s_mem());
    std::pair<QByteArray, QByteArray> pem;
    if (key && privateBio != nullptr && publicBio != nullptr &&
        PEM_write_bio_PrivateKey(privateBio, key.get(), nullptr, nullptr, 0, nullptr, nullptr) ==
            1 &&
        PEM_write_bio_PUBKEY(publicBio, key.get()) == 1)
        pem = {bioContent(privateBio), bioContent(publicBio)};
    BIO_free(privateBio);
    BIO_free(publicBio);
    return pem;
}

EvpKey readPrivateKey(const QString& path, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read the private key %1").arg(path);
        return nullptr;
    }
    const QByteArray pem = file.read(64 * 1024);
    BIO* bio = BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size()));
    EvpKey key(bio != nullptr ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr);
    BIO_free(bio);
    ERR_clear_error();
    if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
        error = QStringLiteral("%1 holds no Ed25519 private key").arg(path);
        return nullptr;
    }
    return key;
}

// A directory made for the private key is its owner's alone, whatever the
// umask (which can only take bits away from 0700); one that exists is left as
// it is.
bool makeOwnDirectory(const QString& directory)
{
    const QString path = QDir::cleanPath(directory);
    if (QFileInfo(path).isDir())
        return true;
    return QDir().mkpath(QFileInfo(path).path()) &&
           ::mkdir(QFile::encodeName(path).constData(), 0700) == 0;
}

} // namespace

bool generateKeyPair(const QString& directory, QString& error)
{
    const QString privatePath = directory + '/' + privateKeyName;
    const QString publicPath = directory + '/' + publicKeyName;
    for (const QString& path : {privatePath, publicPath}) {
        if (QFile::exists(path)) {
            error = QStringLiteral("%1 exists already; keys are never overwritten").arg(path);
            return false;
        }
    }
    if (!makeOwnDirectory(directory)) {
        error = QStringLiteral("cannot make the directory %1").arg(directory);
        return false;
    }
    const auto [privatePem, publicPem] = newKeyPairPem();
    if (privatePem.isEmpty() || publicPem.isEmpty()) {
        error = QStringLiteral("cannot generate an Ed25519 key");
        return false;
    }
    if (!writeOutputFile(privatePath, privatePem, 0600, true, error))
        return false;
    if (!writeOutputFile(publicPath, publicPem, 0644, true, error)) {
        QFile::remove(privatePath); // a private key without its public half is of no use
        return false;
    }
    return true;
}

bool signWithKey(const QString& keyPath, const QByteArray& data, QByteArray& signature,
                 QString& error, QString* keyId)
{
    const EvpKey key = readPrivateKey(keyPath, error);
    if (!key)
        return false;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    size_t length = ed25519SignatureSize;
    signature.resize(ed25519SignatureSize);
    const bool signedData =
        context != nullptr &&
        EVP_DigestSignInit(context, nullptr, nullptr, nullptr, key.get()) == 1 &&
        EVP_DigestSign(context, reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(data.constData()),
                       static_cast<size_t>(data.size())) == 1 &&
        length == ed25519SignatureSize;
    EVP_MD_CTX_free(context);
    if (!signedData)
        error = QStringLiteral("cannot sign with %1").arg(keyPath);
    else if (keyId != nullptr)
        *keyId = ed25519KeyId(key.get());
    return signedData;
}

QString publicKeyId(const QString& path)
{
    const EvpKey key = readEd25519PublicKey(path);
    return ed25519KeyId(key.get());
}
