// cmupdater-publish: the publisher's side of signed updates. Makes the key
// pair, describes and signs a new version, and checks a description as the
// updater will read it.
#include "bundle.h"
#include "check.h"
#include "deltas.h"
#include "describe.h"
#include "keys.h"
#include "report.h"
#include "rolloutcommand.h"
#include "rotate.h"
#include "stats.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

namespace {

struct Command {
    const char* name;
    int (*run)(const QStringList& arguments);
    const char* help; // the synopsis line first
};

int keygenCommand(const QStringList& arguments);

const Command commands[] = {
    {"keygen", keygenCommand,
     "keygen DIR\n"
     "    writes a new Ed25519 key pair: DIR/publisher-key.pem (private, mode 0600)\n"
     "    and DIR/update-key.pem (public, for the installations); never overwrites a key\n"},
    {"describe", describeCommand,
     "describe --version V [header options] --software FILE [package options]\n"
     "         --firmware FILE [package options]\n"
     "    writes Description.xml (or --output FILE) for the package files, after\n"
     "    opening every package as the updater will; removes a signature it made stale\n"
     "    header options: --description TEXT --device MODEL --client-group G\n"
     "      --client-id ID --server-ip A --server-port P --server-user U\n"
     "      --server-password W --url-base URL --issued TIME\n"
     "      --expires TIME | --expires-in DAYS (default 30, at most 90)\n"
     "      --previous VERSION (again for more): the release must be later than each\n"
     "      --mirror URL (again for more, at most 8): an http(s) URL base that holds\n"
     "      every package and delta under its file name, tried in this order when\n"
     "      a package's own URL fails\n"
     "      --rollout STEPS: release in stages, as rollout --steps, from --rollout-start\n"
     "      TIME (default Issued)\n"
     "      --force: replace an output file that is no description or delta\n"
     "    package options, for the package named just before them:\n"
     "      --package-version V --text TEXT --priority N --os NAME --language L --url URL\n"
     "      --delta-from OLD.zip (again for more bases): a delta beside the description\n"
     "    TIME is UTC, as 2026-12-08T10:00:00Z; Issued defaults to now and may be\n"
     "    at most a day ahead; Expires at most 90 days after Issued\n"},
    {"sign", signCommand,
     "sign --key PRIVATE [DESCRIPTION]\n"
     "    writes DESCRIPTION.sig (DESCRIPTION defaults to Description.xml), for a\n"
     "    description that is valid now, names its client group and keeps to the\n"
     "    times describe allows\n"},
    {"verify", verifyCommand,
     "verify --key PUBLIC [DESCRIPTION]\n"
     "    checks the signature, the times and the package files beside it, and\n"
     "    a Keys.xml beside it: signed by PUBLIC, then signing the description\n"},
    {"lint", lintCommand,
     "lint [DESCRIPTION]\n"
     "    shows what the updater reads from it (and from a Keys.xml beside it) and\n"
     "    every problem, opening every package and delta beside it and fetching each\n"
     "    from every mirror; warnings do not fail\n"},
    {"rollout", rolloutCommand,
     "rollout --pause | --resume | --steps STEPS | --critical DESCRIPTION --key PRIVATE\n"
     "    changes the release's rollout, issues the description anew (a later Issued, so\n"
     "    installations take it over the older one) and signs it; prints what changed\n"
     "    and the share offered now. STEPS as 5%@0h,25%@24h,100%@72h: the percent of\n"
     "    installations offered, by hours since the start. A release without a rollout\n"
     "    gets one at 100%@0h from now. --pause offers it to none that lack it;\n"
     "    --critical skips the steps, but not a pause\n"},
    {"rotate", rotateCommand,
     "rotate --key PRIVATE --trust PUBLIC [--trust PUBLIC ...] --version N --output DIR\n"
     "    writes DIR/Keys.xml listing exactly the --trust keys at version N (2 or\n"
     "    more, above the list installations hold) and DIR/Keys.xml.sig signed\n"
     "    with PRIVATE, a key they trust now; a key left out is withdrawn\n"},
    {"stats", statsCommand,
     "stats [--since TIME] [--json] LOG...\n"
     "    reads web-server access logs (common or combined format, plain or gzip, in\n"
     "    any order) and prints the outcome reports per release and device: reports,\n"
     "    installed, rolled back, failed by reason, the failure share and its 95 %\n"
     "    Wilson lower bound; a report sent again counts once\n"
     "    --halt-above SHARE --min N --description D --key PRIVATE: pauses the\n"
     "      rollout of D (as rollout --pause) when the lower bound of its release\n"
     "      passes SHARE (0.05 or 5%) over at least N reports\n"},
    {"bundle", bundleCommand,
     "bundle [--key PUBLIC] DESCRIPTION --output DIR\n"
     "    copies the signed release into the new folder DIR, for a USB stick that\n"
     "    installations update from with cmupdater --from: Keys.xml and\n"
     "    Description.xml with their signatures, the packages and deltas it names;\n"
     "    the copies are checked as verify does (by the Keys.xml beside it without\n"
     "    --key); DIR appears whole or not at all\n"},
    {"delta", deltaCommand,
     "delta [--force] OLD.zip NEW.zip OUTPUT\n"
     "    writes the delta from one package to the next; prints its size against the "
     "package's\n"},
};

const char* const trailer =
    "\n"
    "  help COMMAND, or COMMAND --help: that command's help; --version: the tool's version\n"
    "  Exit status: 0 done (warnings allowed), 1 a check or a write failed, 2 a wrong "
    "command line\n";

const Command* findCommand(const QString& name)
{
    for (const Command& command : commands) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

void printUsage(std::FILE* stream)
{
    std::fputs("usage: cmupdater-publish COMMAND ...\n\n", stream);
    for (const Command& command : commands) {
        std::fputs("  ", stream);
        std::fputs(command.help, stream);
    }
    std::fputs(trailer, stream);
}

int printHelp(const QString& name)
{
    const Command* command = findCommand(name);
    if (command == nullptr) {
        fail(QStringLiteral("no command %1").arg(name));
        printUsage(stderr);
        return usageStatus;
    }
    std::printf("usage: cmupdater-publish %s", command->help);
    return 0;
}

int keygenCommand(const QStringList& arguments)
{
    if (arguments.size() != 1 || arguments[0].startsWith('-')) {
        fail(QStringLiteral("keygen takes one directory"));
        return usageStatus;
    }
    QString error;
    if (!generateKeyPair(arguments[0], error)) {
        fail(error);
        return failedStatus;
    }
    for (const char* name : {privateKeyName, publicKeyName}) {
        const QString path = arguments[0] + '/' + name;
        reportWritten(path, QFileInfo(path).size());
    }
    say(QStringLiteral("key id %1").arg(publicKeyId(arguments[0] + '/' + publicKeyName)));
    return 0;
}

bool asksForHelp(const QStringList& arguments)
{
    return arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString name = arguments.isEmpty() ? QString() : arguments.takeFirst();
    if (name == u"-h" || name == u"--help") {
        printUsage(stdout);
        return 0;
    }
    if (name == u"--version") {
        std::printf("cmupdater-publish %s\n", CMUPDATER_VERSION);
        return 0;
    }
    if (name == u"help" && arguments.size() == 1)
        return printHelp(arguments[0]);
    if (name == u"help") {
        printUsage(stdout);
        return 0;
    }
    const Command* command = findCommand(name);
    if (command == nullptr) {
        printUsage(stderr);
        return usageStatus;
    }
    // Asked anywhere on the line, help is all a command does.
    if (asksForHelp(arguments))
        return printHelp(name);
    return command->run(arguments);
}
