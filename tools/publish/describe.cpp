#include "describe.h"

#include "base/sha256.h"
#include "deltas.h"
#include "outputfile.h"
#include "packagelint.h"
#include "packages/descriptionfields.h"
#include "packages/plainfilename.h"
#include "releaserules.h"
#include "report.h"
#include "timelimits.h"
#include "trust/rollout.h"
#include "trust/utctime.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QUrl>

#include <optional>

namespace {

struct PackageOptions {
    QString packageClass;
    QString path;
    QMap<QString, QString> values; // package option -> value
    QStringList deltaBases;        // the packages a delta is made from
};

struct DescribeOptions {
    QMap<QString, QString> values; // header option -> value
    QList<PackageOptions> packages;
    QStringList previous; // versions this release follows
    QStringList mirrors;  // URL bases holding the same files, in the order tried
    bool force = false;   // the output may replace a file that is no description
};

const QStringList headerOptions = {
    "--version",   "--description",  "--device",      "--client-group",    "--client-id",
    "--server-ip", "--server-port",  "--server-user", "--server-password", "--issued",
    "--expires",   "--expires-in",   "--url-base",    "--output",          "--previous",
    "--rollout",   "--rollout-start"};
const QStringList packageOptions = {"--package-version", "--text", "--priority",  "--os",
                                    "--language",        "--url",  "--delta-from"};

bool addPackage(DescribeOptions& options, const QString& option, const QString& path)
{
    const QString packageClass = option == u"--software" ? "Software Version" : "Firmware Version";
    for (const PackageOptions& package : options.packages) {
        if (package.packageClass == packageClass) {
            fail(QStringLiteral("%1 given twice: the updater takes one package of each kind")
                     .arg(option));
            return false;
        }
    }
    options.packages.append({packageClass, path, {}, {}});
    return true;
}

// Options come in pairs; those after --software or --firmware belong to it.
std::optional<DescribeOptions> parseOptions(const QStringList& arguments)
{
    DescribeOptions options;
    for (int i = 0; i < arguments.size(); i += 2) {
        const QString& name = arguments[i];
        if (name == u"--force") {
            options.force = true;
            --i;
            continue;
        }
        // An option is never taken for the value, nor for a path, that is missing.
        if (i + 1 >= arguments.size() || arguments[i + 1].startsWith(u"--")) {
            fail(QStringLiteral("%1 needs a value").arg(name));
            return std::nullopt;
        }
        const QString& value = arguments[i + 1];
        if (name == u"--previous") {
            options.previous << value;
        } else if (name == u"--mirror") {
            options.mirrors << value;
        } else if (name == u"--software" || name == u"--firmware") {
            if (!addPackage(options, name, value))
                return std::nullopt;
        } else if (packageOptions.contains(name)) {
            if (options.packages.isEmpty()) {
                fail(QStringLiteral("%1 belongs after --software FILE or --firmware FILE")
                         .arg(name));
                return std::nullopt;
            }
            if (name == u"--delta-from")
                options.packages.last().deltaBases << value;
            else
                options.packages.last().values[name] = value;
        } else if (headerOptions.contains(name)) {
            options.values[name] = value;
        } else {
            fail(QStringLiteral("unknown option %1").arg(name));
            return std::nullopt;
        }
    }
    return options;
}

// XML text that reads back as exactly this text in any reader: markup
// characters and everything outside ASCII as character references. A control
// character that XML 1.0 cannot carry at all is refused.
std::optional<QString> escaped(const QString& text)
{
    QString out;
    for (const char32_t c : text.toUcs4()) {
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
            return std::nullopt;
        if (c == 0xFFFE || c == 0xFFFF || (c >= 0xD800 && c <= 0xDFFF))
            return std::nullopt;
        if (c >= 0x20 && c < 0x7F && c != '&' && c != '<' && c != '>' && c != '"' && c != '\'')
            out += QChar(c);
        else
            out += QStringLiteral("&#x") + QString::number(c, 16).toUpper() + ';';
    }
    return out;
}

class DescriptionWriter final {
public:
    bool element(const QString& indent, const QString& name, const QString& text)
    {
        const std::optional<QString> content = escaped(text);
        if (!content)
            return refuse(name);
        xml += indent + '<' + name + '>' + *content + "</" + name + ">\n";
        return true;
    }
    bool attribute(const QString& name, const QString& value)
    {
        const std::optional<QString> content = escaped(value);
        if (!content)
            return refuse(name);
        xml += ' ' + name + "=\"" + *content + '"';
        return true;
    }
    bool text(const QString& value)
    {
        const std::optional<QString> content = escaped(value);
        if (!content)
            return refuse(QStringLiteral("--text"));
        xml += *content;
        return true;
    }
    void raw(const QString& markup) { xml += markup; }
    QByteArray bytes() const { return xml.toUtf8(); }

private:
    bool refuse(const QString& name)
    {
        fail(QStringLiteral("%1 holds a control character that XML cannot carry").arg(name));
        return false;
    }
    QString xml;
};

struct Times {
    qint64 issued;
    qint64 expires;
    bool staged = false; // released in stages, by rollout
    Rollout rollout;
};

std::optional<qint64> timeOption(const DescribeOptions& options, const QString& name)
{
    const std::optional<qint64> time = parseUtcTime(options.values.value(name));
    if (!time)
        fail(QStringLiteral("%1 must be a UTC time like 2026-12-08T10:00:00Z").arg(name));
    return time;
}

std::optional<Times> readTimes(const DescribeOptions& options)
{
    Times times{QDateTime::currentSecsSinceEpoch(), 0, false, {}};
    if (options.values.contains("--issued")) {
        const std::optional<qint64> issued = timeOption(options, "--issued");
        if (!issued)
            return std::nullopt;
        times.issued = *issued;
    }
    if (options.values.contains("--expires")) {
        const std::optional<qint64> expires = timeOption(options, "--expires");
        if (!expires)
            return std::nullopt;
        times.expires = *expires;
    } else {
        bool number = false;
        const int days = options.values.value("--expires-in", "30").toInt(&number);
        if (!number || days <= 0 || days > longestValidity / (24 * 3600)) {
            fail("--expires-in must be a number of days from 1 to 90");
            return std::nullopt;
        }
        times.expires = times.issued + qint64(days) * 24 * 3600;
    }
    if (times.expires <= times.issued) {
        fail("the description would expire before it is issued");
        return std::nullopt;
    }
    if (const QString refusal = timesRefusal(times.issued, times.expires); !refusal.isEmpty()) {
        fail(refusal);
        return std::nullopt;
    }
    if (options.values.contains("--rollout")) {
        const std::optional<QList<RolloutStep>> steps =
            parseRolloutSteps(options.values.value("--rollout"));
        if (!steps) {
            fail("--rollout takes steps like 5%@0h,25%@24h,100%@72h: hours rising, shares not "
                 "falling");
            return std::nullopt;
        }
        std::optional<qint64> start = times.issued;
        if (options.values.contains("--rollout-start") &&
            !(start = timeOption(options, "--rollout-start")))
            return std::nullopt;
        times.staged = true;
        times.rollout = Rollout{*start, *steps, false, false};
    }
    if (times.expires <= QDateTime::currentSecsSinceEpoch()) {
        fail(QStringLiteral("the description would have expired already (%1)")
                 .arg(formatUtcTime(times.expires)));
        return std::nullopt;
    }
    return times;
}

QString packageUrl(const DescribeOptions& options, const PackageOptions& package,
                   const QString& filename)
{
    if (package.values.contains("--url"))
        return package.values.value("--url");
    QString base = options.values.value("--url-base");
    if (base.isEmpty())
        return {};
    while (base.endsWith('/'))
        base.chop(1);
    return base + '/' + QString::fromLatin1(QUrl::toPercentEncoding(filename));
}

struct Digests {
    QString md5;
    QString sha256;
};

std::optional<Digests> digestsOf(const QString& path)
{
    QFile file(path);
    QCryptographicHash md5(QCryptographicHash::Md5);
    const QByteArray sha256 = sha256OfFile(path);
    if (!file.open(QIODevice::ReadOnly) || !md5.addData(&file) || sha256.isEmpty()) {
        fail(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    return Digests{QString::fromLatin1(md5.result().toHex()), QString::fromLatin1(sha256)};
}

// Beside the package's URL: the same directory, the delta's own name.
QString deltaUrl(const QString& packageUrl, const QString& filename)
{
    return packageUrl.left(packageUrl.lastIndexOf('/') + 1) +
           QString::fromLatin1(QUrl::toPercentEncoding(filename));
}

// One delta per base, written beside the description, each an empty element
// after the package's text, which the positional reader reads unchanged.
bool writeDeltas(DescriptionWriter& writer, const DescribeOptions& options,
                 const PackageOptions& package, const QString& url)
{
    const QString directory =
        QFileInfo(options.values.value("--output", "Description.xml")).absolutePath();
    for (const QString& base : package.deltaBases) {
        if (!acceptPackageFile(base, true))
            return false;
        const QString output = directory + '/' + deltaFileName(package.path, base);
        QString error;
        const std::optional<PublishedDelta> delta =
            mayOverwrite(output, isDeltaOutput, options.force, error)
                ? publishDelta(base, package.path, output, error)
                : std::nullopt;
        if (!delta) {
            fail(error);
            return false;
        }
        reportWritten(output, delta->size);
        writer.raw("<Delta");
        const bool written = writer.attribute("Base", delta->base) &&
                             writer.attribute("Filename", delta->filename) &&
                             writer.attribute("Size", QString::number(delta->size)) &&
                             writer.attribute("MD5", delta->md5) &&
                             writer.attribute("SHA256", delta->sha256) &&
                             writer.attribute("Manifest", delta->manifest) &&
                             writer.attribute("URL", deltaUrl(url, delta->filename));
        writer.raw("/>");
        if (!written)
            return false;
    }
    return true;
}

bool writePackage(DescriptionWriter& writer, const DescribeOptions& options,
                  const PackageOptions& package)
{
    const QFileInfo info(package.path);
    const QString filename = info.fileName();
    if (!info.isFile()) {
        QFile file(package.path);
        const QString reason = info.isDir() ? QStringLiteral("a directory")
                               : file.open(QIODevice::ReadOnly)
                                   ? QStringLiteral("not a regular file")
                                   : file.errorString();
        fail(QStringLiteral("no package file %1: %2").arg(package.path, reason));
        return false;
    }
    if (!isPlainFileName(filename)) {
        fail(QStringLiteral("unsafe package file name %1").arg(filename));
        return false;
    }
    if (!acceptPackageFile(package.path, package.packageClass == u"Software Version"))
        return false;
    const QString url = packageUrl(options, package, filename);
    if (url.isEmpty()) {
        fail(QStringLiteral("no URL for %1: give --url after it, or --url-base").arg(filename));
        return false;
    }
    const std::optional<Digests> digests = digestsOf(package.path);
    if (!digests)
        return false;
    const auto value = [&package](const char* name, const QString& fallback) {
        return package.values.value(name, fallback);
    };
    writer.raw("    <Package");
    const bool written =
        writer.attribute("Class", package.packageClass) && writer.attribute("Filename", filename) &&
        writer.attribute("Size", QString::number(info.size())) &&
        writer.attribute("MD5", digests->md5) && writer.attribute("SHA256", digests->sha256) &&
        writer.attribute("URL", url) &&
        writer.attribute("OperatingSystem", value("--os", "Linux")) &&
        writer.attribute("Language", value("--language", "")) &&
        writer.attribute("PriorityFlag", value("--priority", "1")) &&
        writer.attribute("Version", value("--package-version", options.values.value("--version")));
    writer.raw(">");
    const bool text =
        written && writer.text(value("--text", "")) && writeDeltas(writer, options, package, url);
    writer.raw("</Package>\n");
    return text;
}

// The order below is the order the updater reads by position.
std::optional<QByteArray> description(const DescribeOptions& options, const Times& times)
{
    DescriptionWriter writer;
    const auto header = [&](const char* name, const QString& value) {
        return writer.element("    ", name, value);
    };
    const auto& v = options.values;
    writer.raw("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<UpdateDescription>\n  <Info>\n");
    if (!(header("Version", v.value("--version")) &&
          header("Description", v.value("--description")) &&
          header("Device", v.value("--device")) &&
          header("ClientGroup", v.value("--client-group")) &&
          header("ClientID", v.value("--client-id")) &&
          header("Issued", formatUtcTime(times.issued)) &&
          header("Expires", formatUtcTime(times.expires))))
        return std::nullopt;
    if (times.staged) {
        QDomDocument doc;
        QDomElement element = doc.createElement(QStringLiteral("Rollout"));
        setRolloutAttributes(element, times.rollout);
        doc.appendChild(element);
        writer.raw("    " + doc.toString(-1).trimmed() + '\n');
    }
    writer.raw("  </Info>\n  <Packages>\n");
    for (const PackageOptions& package : options.packages) {
        if (!writePackage(writer, options, package))
            return std::nullopt;
    }
    writer.raw("  </Packages>\n  <Servers>\n    <Server>\n");
    const auto server = [&](const char* name, const QString& value) {
        return writer.element("      ", name, value);
    };
    if (!(server("IP", v.value("--server-ip")) && server("Port", v.value("--server-port")) &&
          server("UserName", v.value("--server-user")) &&
          server("Password", v.value("--server-password"))))
        return std::nullopt;
    writer.raw("    </Server>\n");
    for (const QString& mirror : options.mirrors) {
        if (!writer.element("    ", "Mirror", mirror))
            return std::nullopt;
    }
    writer.raw("  </Servers>\n</UpdateDescription>\n");
    return writer.bytes();
}

// What an installation would refuse or never take: the first reason, or empty.
QString releaseRefusal(const DescribeOptions& options)
{
    const auto& v = options.values;
    QString refusal = versionRefusal("--version", v.value("--version"), options.previous);
    for (const PackageOptions& package : options.packages) {
        // Firmware versions follow the modem's numbering, not the release's.
        const QStringList previous =
            package.packageClass == u"Software Version" ? options.previous : QStringList();
        if (refusal.isEmpty() && package.values.contains("--package-version"))
            refusal = versionRefusal("--package-version", package.values.value("--package-version"),
                                     previous);
        if (refusal.isEmpty() && package.values.contains("--priority"))
            refusal = priorityRefusal(package.values.value("--priority"));
    }
    if (refusal.isEmpty() && v.value("--client-group").isEmpty())
        refusal = QStringLiteral("--client-group is required: an installation with a key refuses "
                                 "a description for any other group than its own");
    if (refusal.isEmpty() && v.contains("--url-base"))
        refusal = urlBaseRefusal(v.value("--url-base"));
    for (const QString& mirror : options.mirrors) {
        if (refusal.isEmpty())
            refusal = mirrorRefusal(mirror);
    }
    if (refusal.isEmpty() && options.mirrors.size() > maxMirrors)
        refusal = QStringLiteral("at most %1 --mirror: the updater reads no more").arg(maxMirrors);
    return refusal;
}

} // namespace

int describeCommand(const QStringList& arguments)
{
    const std::optional<DescribeOptions> options = parseOptions(arguments);
    if (!options)
        return usageStatus;
    if (options->values.value("--version").isEmpty()) {
        fail("--version is required: the updater shows no notice without one");
        return usageStatus;
    }
    if (options->packages.isEmpty()) {
        fail("no package: give --software FILE and/or --firmware FILE");
        return usageStatus;
    }
    if (const QString refusal = releaseRefusal(*options); !refusal.isEmpty()) {
        fail(refusal);
        return failedStatus;
    }
    const std::optional<Times> times = readTimes(*options);
    if (!times)
        return usageStatus;
    const QString output = options->values.value("--output", "Description.xml");
    QString error;
    if (!mayOverwrite(output, isDescriptionOutput, options->force, error)) {
        fail(error);
        return failedStatus;
    }
    const std::optional<QByteArray> xml = description(*options, *times);
    if (!xml)
        return failedStatus;
    if (!writeOutputFile(output, *xml, 0644, false, error)) {
        fail(error);
        return failedStatus;
    }
    reportWritten(output, xml->size());
    // A signature of the description just replaced would not verify.
    const QString signature = output + QStringLiteral(".sig");
    if (QFile::exists(signature)) {
        if (!QFile::remove(signature)) {
            fail(QStringLiteral("cannot remove the stale signature %1").arg(signature));
            return failedStatus;
        }
        say(QStringLiteral("removed %1: it signed the description replaced").arg(signature));
    }
    return 0;
}
