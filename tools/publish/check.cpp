#include "check.h"

#include "base/sha256.h"
#include "deltas.h"
#include "keylistcheck.h"
#include "keys.h"
#include "mirrorcheck.h"
#include "outputfile.h"
#include "packagelint.h"
#include "packages/descriptionfields.h"
#include "packages/plainfilename.h"
#include "packages/xmlparser.h"
#include "report.h"
#include "timelimits.h"
#include "trust/ed25519.h"
#include "trust/utctime.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <memory>
#include <optional>

namespace {

constexpr qint64 maxDescriptionBytes = 16 * 1024 * 1024;

struct KeyAndDescription {
    QString key;
    QString description = QStringLiteral("Description.xml");
};

std::optional<KeyAndDescription> parseKeyAndDescription(const QStringList& arguments,
                                                        bool keyRequired)
{
    KeyAndDescription parsed;
    bool described = false;
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == u"--key" && keyRequired && i + 1 < arguments.size() &&
            !arguments[i + 1].startsWith('-')) {
            parsed.key = arguments[++i];
        } else if (!arguments[i].startsWith('-') && !described) {
            parsed.description = arguments[i];
            described = true;
        } else {
            fail(QStringLiteral("unexpected argument %1").arg(arguments[i]));
            return std::nullopt;
        }
    }
    if (keyRequired && parsed.key.isEmpty()) {
        fail(QStringLiteral("--key FILE is required"));
        return std::nullopt;
    }
    return parsed;
}

} // namespace

std::optional<QByteArray> readDescriptionFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    const QByteArray bytes = file.read(maxDescriptionBytes + 1);
    if (bytes.size() > maxDescriptionBytes) {
        fail(QStringLiteral("%1 is larger than any description").arg(path));
        return std::nullopt;
    }
    QDomDocument doc;
    QString message;
    int line = 0;
    int column = 0;
    if (!doc.setContent(bytes, false, &message, &line, &column)) {
        fail(QStringLiteral("%1 is not well-formed XML: %2 (line %3, column %4)")
                 .arg(path, message)
                 .arg(line)
                 .arg(column));
        return std::nullopt;
    }
    return bytes;
}

namespace {

// The description as the updater's own parser reads it.
void parseAsTheUpdater(const QByteArray& bytes, XmlParser& parser)
{
    parser.setContent(bytes);
    parser.get();
}

QString describeNode(const QDomNode& node)
{
    if (node.isNull())
        return QStringLiteral("nothing");
    if (node.isElement())
        return '<' + node.nodeName() + '>';
    if (node.isComment())
        return QStringLiteral("a comment");
    return QStringLiteral("text \"%1\"").arg(node.nodeValue().trimmed().left(40));
}

void positionProblems(const QDomNode& parent, const QStringList& names, const QString& where,
                      QStringList& problems)
{
    QDomNode node = parent.firstChild();
    for (int k = 0; k < names.size(); ++k, node = node.nextSibling()) {
        if (!(node.isElement() && node.nodeName() == names[k]))
            problems << QStringLiteral("%1 child %2: expected <%3>, found %4; the updater "
                                       "reads <%3> only there")
                            .arg(where)
                            .arg(k + 1)
                            .arg(names[k], describeNode(node));
    }
}

bool matches(const QString& text, const char* pattern)
{
    return QRegularExpression(QLatin1String(pattern)).match(text).hasMatch();
}

void attributeProblems(const QDomElement& package, const QString& where, QStringList& problems)
{
    const auto attribute = [&package](const char* name) { return package.attribute(name); };
    if (!isPlainFileName(attribute("Filename")))
        problems << QStringLiteral("%1: unsafe or empty Filename \"%2\": the updater will not "
                                   "install it")
                        .arg(where, attribute("Filename"));
    if (!matches(attribute("Size"), "^[0-9]+$"))
        problems << QStringLiteral("%1: Size \"%2\" is no number of bytes")
                        .arg(where, attribute("Size"));
    if (!matches(attribute("MD5"), "^[0-9a-fA-F]{32}$"))
        problems << QStringLiteral("%1: MD5 \"%2\" is no MD5 digest").arg(where, attribute("MD5"));
    if (!isSha256Text(attribute("SHA256")))
        problems << QStringLiteral("%1: no valid SHA256 (64 lowercase hex digits): an "
                                   "installation with a key refuses the package")
                        .arg(where);
    if (attribute("URL").isEmpty())
        problems << QStringLiteral("%1: no URL").arg(where);
}

void packageListProblems(const QDomNode& list, QStringList& problems)
{
    const QStringList classes = {QStringLiteral("Software Version"),
                                 QStringLiteral("Firmware Version")};
    QStringList seen;
    int position = 1;
    for (QDomNode node = list.firstChild(); !node.isNull(); node = node.nextSibling(), ++position) {
        const QString where = QStringLiteral("package %1").arg(position);
        if (position > 2) {
            problems << where + QStringLiteral(": ignored, the updater reads two packages");
            continue;
        }
        const QString packageClass = node.toElement().attribute(QStringLiteral("Class"));
        if (!classes.contains(packageClass)) {
            problems << QStringLiteral("%1: unknown Class \"%2\": the updater ignores it")
                            .arg(where, packageClass);
            continue;
        }
        if (seen.contains(packageClass))
            problems << QStringLiteral("%1: a second \"%2\" replaces the first")
                            .arg(where, packageClass);
        seen << packageClass;
        attributeProblems(node.toElement(), where, problems);
    }
    if (position == 1)
        problems << QStringLiteral("the package list offers no package");
}

void structureProblems(const QDomDocument& doc, QStringList& problems)
{
    const QDomNode header = doc.documentElement().firstChild();
    if (!header.hasChildNodes()) {
        problems << QStringLiteral(
            "the header is missing or empty: the updater reads a failed check");
        return;
    }
    if (!offersNewVersion(doc))
        return; // a status answer: nothing more is read
    positionProblems(
        header,
        {"Version", "Description", "Device", "ClientGroup", "ClientID", "Issued", "Expires"},
        QStringLiteral("header"), problems);
    const QDomNode packageList = header.nextSibling();
    if (packageList.isNull())
        problems << QStringLiteral("root child 2, the package list, is missing");
    else
        packageListProblems(packageList, problems);
    const QDomNode serverBlock = packageList.nextSibling();
    if (serverBlock.isNull())
        problems << QStringLiteral("root child 3, the server block, is missing");
    else
        positionProblems(serverBlock.firstChild(), {"IP", "Port", "UserName", "Password"},
                         QStringLiteral("server"), problems);
}

void timeProblems(const QDomDocument& doc, QStringList& problems)
{
    if (!offersNewVersion(doc))
        return;
    const std::optional<qint64> issued = parseUtcTime(issuedElement(doc).text());
    const std::optional<qint64> expires = parseUtcTime(expiresElement(doc).text());
    if (!issued)
        problems << QStringLiteral("no valid Issued time (like 2026-12-08T10:00:00Z)");
    if (!expires)
        problems << QStringLiteral("no valid Expires time (like 2026-12-08T10:00:00Z)");
    if (issued && expires && *issued > *expires)
        problems << QStringLiteral("Issued lies after Expires");
    if (expires && *expires <= QDateTime::currentSecsSinceEpoch())
        problems << QStringLiteral("expired at %1").arg(formatUtcTime(*expires));
}

QList<const PackageInfo*> offeredPackages(const XmlParser& parser)
{
    QList<const PackageInfo*> packages;
    for (const PackageInfo* package : {&parser.software, &parser.firmware}) {
        if (!package->packageClass.isEmpty() && !package->filename.isEmpty())
            packages << package;
    }
    return packages;
}

// Size and digests of the package files lying beside the description.
void packageFileProblems(const QString& directory, const XmlParser& parser, bool filesRequired,
                         QStringList& problems)
{
    for (const PackageInfo* package : offeredPackages(parser)) {
        const QString path = directory + '/' + package->filename;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            if (filesRequired)
                problems << QStringLiteral("%1: no such file beside the description")
                                .arg(package->filename);
            else
                say(QStringLiteral("  %1 is not beside the description: size and digests "
                                   "not checked")
                        .arg(package->filename));
            continue;
        }
        if (QString::number(file.size()) != package->size)
            problems << QStringLiteral("%1: Size %2 but the file has %3 bytes")
                            .arg(package->filename, package->size)
                            .arg(file.size());
        QCryptographicHash md5(QCryptographicHash::Md5);
        md5.addData(&file);
        if (QString::fromLatin1(md5.result().toHex()) != package->md5.toLower())
            problems << QStringLiteral("%1: MD5 does not match the file").arg(package->filename);
        const QString sha256 = packageSha256(parser.doc, package->packageClass);
        if (isSha256Text(sha256) && sha256.toLatin1() != sha256OfFile(path))
            problems << QStringLiteral("%1: SHA256 does not match the file").arg(package->filename);
        deltaProblems(directory, parser.doc, package->packageClass, filesRequired, problems);
        const PackageFindings findings =
            packageFindings(path, package->packageClass == u"Software Version");
        problems << findings.refusals;
        for (const QString& warning : findings.warnings)
            say(QStringLiteral("warning: %1").arg(warning));
    }
}

QString flagMeaning(const QString& flag)
{
    const int value = flag.toInt();
    if (value == 0)
        return QStringLiteral("a failed check");
    if (value >= 1 && value <= 3)
        return QStringLiteral("no new version");
    return QStringLiteral("a new version");
}

void reportFields(const XmlParser& parser)
{
    say(QStringLiteral("flag: \"%1\" (%2)").arg(parser.flag, flagMeaning(parser.flag)));
    if (!offersNewVersion(parser.doc))
        return;
    const QStringList header = {"Version",     parser.version,
                                "Description", parser.description,
                                "Device",      parser.device,
                                "ClientGroup", parser.clientGroup,
                                "ClientID",    parser.clientId,
                                "Issued",      issuedElement(parser.doc).text(),
                                "Expires",     expiresElement(parser.doc).text()};
    for (int i = 0; i < header.size(); i += 2)
        say(QStringLiteral("%1: \"%2\"").arg(header[i], header[i + 1]));
    say(QStringLiteral("packages read: %1").arg(parser.packageCount));
    for (const PackageInfo* package : {&parser.software, &parser.firmware}) {
        if (package->packageClass.isEmpty())
            continue;
        say(QStringLiteral("%1: Filename \"%2\", Size %3, MD5 %4, SHA256 %5, URL %6, Version "
                           "\"%7\", PriorityFlag \"%8\"")
                .arg(package->packageClass, package->filename, package->size, package->md5,
                     packageSha256(parser.doc, package->packageClass), package->url,
                     package->version, package->priorityFlag));
        reportDeltas(parser.doc, package->packageClass);
    }
    say(QStringLiteral("server: IP \"%1\", Port \"%2\", UserName \"%3\", Password \"%4\"")
            .arg(parser.ftpIp, parser.ftpPort, parser.ftpUserName, parser.ftpPassword));
}

int reportProblems(const QStringList& problems, const QString& verdict)
{
    for (const QString& problem : problems)
        say(QStringLiteral("problem: %1").arg(problem));
    if (!problems.isEmpty()) {
        fail(QStringLiteral("%1 problem(s)").arg(problems.size()));
        return failedStatus;
    }
    say(verdict);
    return 0;
}

// Why PATH gave no public key: the system's reason when it cannot be read.
QString publicKeyProblem(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    return QStringLiteral("%1 holds no Ed25519 public key").arg(path);
}

// The id of the key of keys whose signature DESCRIPTION.sig is; empty, with
// the problem added, when it is none of them.
QString descriptionSigner(const KeyList& keys, const QString& descriptionPath,
                          const QByteArray& description, QStringList& problems)
{
    QFile signature(descriptionPath + QStringLiteral(".sig"));
    if (!signature.open(QIODevice::ReadOnly)) {
        problems << QStringLiteral("no signature %1.sig").arg(descriptionPath);
        return {};
    }
    const QString signer = keys.signerOf(description, signature.read(ed25519SignatureSize + 1));
    if (signer.isEmpty())
        problems << QStringLiteral("bad signature: %1.sig is the signature of no trusted key "
                                   "(%2) over the description")
                        .arg(descriptionPath, keys.ids().join(QStringLiteral(", ")));
    return signer;
}

// The command line and the description it names, read as the updater reads it.
struct LoadedDescription {
    KeyAndDescription names;
    QByteArray bytes;
    XmlParser parser;
    QString directory() const { return QFileInfo(names.description).absolutePath(); }
};

// Null, with status set, when the description is bad.
std::unique_ptr<LoadedDescription> load(const QString& description, const QString& key, int& status)
{
    status = failedStatus;
    auto loaded = std::make_unique<LoadedDescription>();
    loaded->names = {key, description};
    const std::optional<QByteArray> bytes = readDescriptionFile(description);
    if (!bytes)
        return nullptr;
    parseAsTheUpdater(*bytes, loaded->parser);
    loaded->bytes = *bytes;
    return loaded;
}

// The same for a command line; status says a bad one too.
std::unique_ptr<LoadedDescription> load(const QStringList& arguments, bool keyRequired, int& status)
{
    const std::optional<KeyAndDescription> parsed = parseKeyAndDescription(arguments, keyRequired);
    status = usageStatus;
    return parsed ? load(parsed->description, parsed->key, status) : nullptr;
}

// The key of the release's signature, as an installation holding the key
// finds it (the list beside it first); without a key, by the key list beside
// it, which must be there then. Empty, with the problem added, when none signed it.
QString releaseSigner(const LoadedDescription& loaded, QStringList& problems)
{
    std::optional<KeyList> installed;
    const QString& key = loaded.names.key;
    if (!key.isEmpty() && !(installed = singleKeyList(key))) {
        problems << publicKeyProblem(key);
        return {};
    }
    const std::optional<KeyList> keys =
        publishedKeyListProblems(loaded.directory(), std::move(installed), problems);
    if (!keys) {
        problems << QStringLiteral("no Keys.xml beside the description and no --key PUBLIC: "
                                   "its signature cannot be checked");
        return {};
    }
    return descriptionSigner(*keys, loaded.names.description, loaded.bytes, problems);
}

} // namespace

int lintCommand(const QStringList& arguments)
{
    int status = 0;
    const std::unique_ptr<LoadedDescription> loaded = load(arguments, false, status);
    if (!loaded)
        return status;
    const XmlParser& parser = loaded->parser;
    reportFields(parser);
    QStringList problems;
    structureProblems(parser.doc, problems);
    timeProblems(parser.doc, problems);
    packageFileProblems(loaded->directory(), parser, false, problems);
    mirrorProblems(parser, problems);
    // Installations that take the list beside it must find the description signed.
    if (const std::optional<KeyList> keys =
            publishedKeyListProblems(loaded->directory(), std::nullopt, problems)) {
        const QString signer =
            descriptionSigner(*keys, loaded->names.description, loaded->bytes, problems);
        if (!signer.isEmpty())
            say(QStringLiteral("description signed by key %1").arg(signer));
    }
    return reportProblems(problems, QStringLiteral("no problems"));
}

int verifyCommand(const QStringList& arguments)
{
    const std::optional<KeyAndDescription> parsed = parseKeyAndDescription(arguments, true);
    return parsed ? verifyRelease(parsed->description, parsed->key) : usageStatus;
}

int verifyRelease(const QString& description, const QString& key)
{
    int status = 0;
    const std::unique_ptr<LoadedDescription> loaded = load(description, key, status);
    if (!loaded)
        return status;
    const XmlParser& parser = loaded->parser;
    QStringList problems;
    const QString signer = releaseSigner(*loaded, problems);
    timeProblems(parser.doc, problems);
    for (const PackageInfo* package : offeredPackages(parser)) {
        if (!isSha256Text(packageSha256(parser.doc, package->packageClass)))
            problems << QStringLiteral("%1: no valid SHA256").arg(package->filename);
    }
    packageFileProblems(loaded->directory(), parser, true, problems);
    return reportProblems(
        problems,
        QStringLiteral("verified: %1 and its packages, signed by key %2").arg(description, signer));
}

bool signDescription(const QString& key, const QString& description, const QByteArray& bytes,
                     QByteArray& signature, QString& signer)
{
    if (const QString refusal = signingRefusal(bytes); !refusal.isEmpty()) {
        fail(QStringLiteral("%1: %2").arg(description, refusal));
        return false;
    }
    QString error;
    if (!signWithKey(key, bytes, signature, error, &signer)) {
        fail(error);
        return false;
    }
    return true;
}

int signCommand(const QStringList& arguments)
{
    const std::optional<KeyAndDescription> parsed = parseKeyAndDescription(arguments, true);
    if (!parsed)
        return usageStatus;
    const std::optional<QByteArray> bytes = readDescriptionFile(parsed->description);
    QByteArray signature;
    QString signer;
    if (!bytes || !signDescription(parsed->key, parsed->description, *bytes, signature, signer))
        return failedStatus;
    QString error;
    const QString output = parsed->description + QStringLiteral(".sig");
    if (!writeOutputFile(output, signature, 0644, false, error)) {
        fail(error);
        return failedStatus;
    }
    reportWritten(output, signature.size());
    say(QStringLiteral("signed with key %1").arg(signer));
    return 0;
}
