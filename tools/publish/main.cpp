// cmupdater-publish: the publisher's side of signed updates. Makes the key
// pair, describes and signs a new version, and checks a description as the
// updater will read it.
#include "check.h"
#include "deltas.h"
#include "describe.h"
#include "keys.h"
#include "report.h"
#include "rotate.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

const char usage[] =
    "usage: cmupdater-publish COMMAND ...\n"
    "\n"
    "  keygen DIR\n"
    "      writes a new Ed25519 key pair: DIR/publisher-key.pem (private, mode 0600)\n"
    "      and DIR/update-key.pem (public, for the installations)\n"
    "  describe --version V [header options] --software FILE [package options]\n"
    "           --firmware FILE [package options]\n"
    "      writes Description.xml (or --output FILE) for the package files\n"
    "      header options: --description TEXT --device MODEL --client-group G\n"
    "        --client-id ID --server-ip A --server-port P --server-user U\n"
    "        --server-password W --url-base URL --issued TIME\n"
    "        --expires TIME | --expires-in DAYS (default 30, at most 90)\n"
    "      package options, for the package named just before them:\n"
    "        --package-version V --text TEXT --priority N --os NAME --language L --url URL\n"
    "        --delta-from OLD.zip (again for more bases): a delta beside the description\n"
    "      TIME is UTC, as 2026-12-08T10:00:00Z; Issued defaults to now and may be\n"
    "      at most a day ahead; Expires at most 90 days after Issued\n"
    "  sign --key PRIVATE [DESCRIPTION]\n"
    "      writes DESCRIPTION.sig (DESCRIPTION defaults to Description.xml), for\n"
    "      the times describe allows only\n"
    "  verify --key PUBLIC [DESCRIPTION]\n"
    "      checks the signature, the times and the package files beside it, and\n"
    "      a Keys.xml beside it: signed by PUBLIC, then signing the description\n"
    "  lint [DESCRIPTION]\n"
    "      shows what the updater reads from it (and from a Keys.xml beside it)\n"
    "      and every problem\n"
    "  rotate --key PRIVATE --trust PUBLIC [--trust PUBLIC ...] --version N --output DIR\n"
    "      writes DIR/Keys.xml listing exactly the --trust keys at version N (2 or\n"
    "      more, above the list installations hold) and DIR/Keys.xml.sig signed\n"
    "      with PRIVATE, a key they trust now; a key left out is withdrawn\n"
    "  delta OLD.zip NEW.zip OUTPUT\n"
    "      writes the delta from one package to the next; prints its size against the package's\n";

int keygenCommand(const QStringList& arguments)
{
    if (arguments.size() != 1) {
        fail(QStringLiteral("keygen takes one directory"));
        return usageStatus;
    }
    QString error;
    if (!generateKeyPair(arguments[0], error)) {
        fail(error);
        return failedStatus;
    }
    const QString publicPath = arguments[0] + '/' + publicKeyName;
    say(QStringLiteral("wrote %1/%2 (private)").arg(arguments[0], privateKeyName));
    say(QStringLiteral("wrote %1 (public)").arg(publicPath));
    say(QStringLiteral("key id %1").arg(publicKeyId(publicPath)));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString command = arguments.isEmpty() ? QString() : arguments.takeFirst();
    if (command == u"keygen")
        return keygenCommand(arguments);
    if (command == u"describe")
        return describeCommand(arguments);
    if (command == u"sign")
        return signCommand(arguments);
    if (command == u"verify")
        return verifyCommand(arguments);
    if (command == u"lint")
        return lintCommand(arguments);
    if (command == u"delta")
        return deltaCommand(arguments);
    if (command == u"rotate")
        return rotateCommand(arguments);
    if (command == u"-h" || command == u"--help") {
        std::fputs(usage, stdout);
        return 0;
    }
    std::fputs(usage, stderr);
    return usageStatus;
}
