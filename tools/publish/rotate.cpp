#include "rotate.h"

#include "keys.h"
#include "outputfile.h"
#include "report.h"
#include "trust/keylist.h"

#include <optional>

namespace {

struct RotateOptions {
    QString key;
    QStringList trust;
    qint64 version = 0;
    QString output;
};

std::optional<RotateOptions> parseOptions(const QStringList& arguments)
{
    RotateOptions options;
    for (int i = 0; i + 1 < arguments.size(); i += 2) {
        const QString& name = arguments[i];
        const QString& value = arguments[i + 1];
        // As in the other commands: an option is never taken for a missing value.
        if (value.startsWith(u"--")) {
            fail(QStringLiteral("%1 needs a value").arg(name));
            return std::nullopt;
        }
        if (name == u"--key" && options.key.isEmpty())
            options.key = value;
        else if (name == u"--trust")
            options.trust << value;
        else if (name == u"--version" && options.version == 0)
            options.version = value.toLongLong(); // 0 for text that is no number
        else if (name == u"--output" && options.output.isEmpty())
            options.output = value;
        else
            return std::nullopt;
    }
    if (arguments.size() % 2 != 0 || options.key.isEmpty() || options.trust.isEmpty() ||
        options.output.isEmpty())
        return std::nullopt;
    return options;
}

// The keys to list, each once; error names the first that is no key or listed twice.
std::optional<KeyList> readTrusted(const QStringList& paths, QString& error)
{
    KeyList list;
    for (const QString& path : paths) {
        EvpKey key = readEd25519PublicKey(path);
        const QString id = ed25519KeyId(key.get());
        if (id.isEmpty() || list.ids().contains(id)) {
            error = id.isEmpty() ? QStringLiteral("%1 holds no Ed25519 public key").arg(path)
                                 : QStringLiteral("key %1 (%2) is given twice").arg(id, path);
            return std::nullopt;
        }
        list.keys.push_back(TrustedKey{id, std::move(key)});
    }
    return list;
}

bool writeList(const QString& keyPath, const QString& directory, const KeyList& list,
               QString& error)
{
    const QString path = directory + QStringLiteral("/Keys.xml");
    const QByteArray bytes = keyListXml(list.version, list.keys);
    QByteArray signature;
    QString signer;
    if (!signWithKey(keyPath, bytes, signature, error, &signer) ||
        !writeOutputFile(path, bytes, 0644, false, error) ||
        !writeOutputFile(path + QStringLiteral(".sig"), signature, 0644, false, error))
        return false;
    say(QStringLiteral("wrote %1: version %2, keys %3")
            .arg(path)
            .arg(list.version)
            .arg(list.ids().join(QStringLiteral(", "))));
    say(QStringLiteral("wrote %1.sig, signed with key %2").arg(path, signer));
    if (!list.ids().contains(signer))
        note(QStringLiteral("key %1 is not in the list: installations that take it withdraw "
                            "the key")
                 .arg(signer));
    return true;
}

} // namespace

int rotateCommand(const QStringList& arguments)
{
    const std::optional<RotateOptions> options = parseOptions(arguments);
    if (!options) {
        fail(QStringLiteral("rotate takes --key PRIVATE, --trust PUBLIC (once or more), "
                            "--version N and --output DIR"));
        return usageStatus;
    }
    if (options->version < 2) {
        fail(QStringLiteral("--version must be a number of 2 or more: every installation "
                            "starts at version 1 and takes only a higher one"));
        return usageStatus;
    }
    QString error;
    std::optional<KeyList> list = readTrusted(options->trust, error);
    if (list)
        list->version = options->version;
    if (!list || !writeList(options->key, options->output, *list, error)) {
        fail(error);
        return failedStatus;
    }
    return 0;
}
