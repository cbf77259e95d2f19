#include "trust/sha256.h"

#include <QFile>

#include <openssl/evp.h>

#include <array>

QByteArray sha256OfFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (context == nullptr || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(context);
        return {};
    }
    std::array<char, 256 * 1024> buffer;
    bool readAll = true;
    for (;;) {
        const qint64 got = file.read(buffer.data(), buffer.size());
        if (got <= 0) {
            readAll = got == 0;
            break;
        }
        EVP_DigestUpdate(context, buffer.data(), static_cast<size_t>(got));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool done = EVP_DigestFinal_ex(context, digest, &length) == 1;
    EVP_MD_CTX_free(context);
    if (!readAll || !done)
        return {};
    return QByteArray(reinterpret_cast<const char*>(digest), static_cast<int>(length)).toHex();
}

bool isSha256Text(const QString& text)
{
    if (text.size() != 64)
        return false;
    for (const QChar c : text) {
        const bool hexDigit = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                              (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
        if (!hexDigit)
            return false;
    }
    return true;
}
