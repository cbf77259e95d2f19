#include "base/sha256.h"

#include "base/nofollowfile.h"

#include <QFile>

#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The digest of everything in, written on to copy as it is read when copy is
// given; empty when in cannot be read to its end or copy not written.
QByteArray sha256OfStream(QIODevice& in, QIODevice* copy)
{
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (context == nullptr || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(context);
        return {};
    }
    std::array<char, 256 * 1024> buffer;
    bool readAll = true;
    for (;;) {
        const qint64 got = in.read(buffer.data(), buffer.size());
        if (got <= 0) {
            readAll = got == 0;
            break;
        }
        EVP_DigestUpdate(context, buffer.data(), static_cast<size_t>(got));
        if (copy != nullptr && copy->write(buffer.data(), got) != got) {
            readAll = false;
            break;
        }
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool done = EVP_DigestFinal_ex(context, digest, &length) == 1;
    EVP_MD_CTX_free(context);
    if (!readAll || !done)
        return {};
    return QByteArray(reinterpret_cast<const char*>(digest), static_cast<int>(length)).toHex();
}

// A new file only the updater can write, never reached through a link; the
// descriptor is handed to copy, which closes it.
bool createPrivateFile(QFile& copy, const QByteArray& name)
{
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 && copy.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return true;
    if (fd >= 0)
        ::close(fd);
    return false;
}

} // namespace

QByteArray sha256OfFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return sha256OfStream(file, nullptr);
}

QByteArray sha256IntoOwnCopy(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    const QByteArray copyName = name + ".verifying";
    QFile in;
    QFile copy;
    ::unlink(copyName.constData());
    if (!openRegularFileNoFollow(in, path) || !createPrivateFile(copy, copyName))
        return {};
    QByteArray digest = sha256OfStream(in, &copy);
    if (!copy.flush() || ::fsync(copy.handle()) != 0)
        digest.clear();
    copy.close();
    if (digest.isEmpty() || std::rename(copyName.constData(), name.constData()) != 0) {
        ::unlink(copyName.constData());
        return {};
    }
    return digest;
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
