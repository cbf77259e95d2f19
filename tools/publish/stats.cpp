#include "stats.h"

#include "accesslog.h"
#include "check.h"
#include "packages/xmlparser.h"
#include "report.h"
#include "rolloutcommand.h"
#include "trust/utctime.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <unordered_set>

namespace {

struct StatsOptions {
    std::optional<qint64> since;
    bool json = false;
    std::optional<double> haltAbove;
    qint64 minimum = 0;
    QString description;
    QString key;
    QStringList logs;
};

// The reports of one release on one device.
struct Counts {
    qint64 reports = 0;
    qint64 installed = 0;
    qint64 rolledBack = 0;
    QMap<QString, qint64> failed; // by reason
    qint64 failedTotal() const
    {
        qint64 total = 0;
        for (const qint64 count : failed)
            total += count;
        return total;
    }
    qint64 failures() const { return rolledBack + failedTotal(); }
};

using Key = std::pair<QString, QString>; // release, device

std::optional<double> parseShare(const QString& text)
{
    bool ok = false;
    const bool percent = text.endsWith('%');
    const double value = (percent ? text.chopped(1) : text).toDouble(&ok) / (percent ? 100 : 1);
    if (!ok || !(value >= 0 && value <= 1))
        return std::nullopt;
    return value;
}

bool takeValue(const QStringList& arguments, int& i, QString& value)
{
    if (i + 1 >= arguments.size()) {
        fail(QStringLiteral("%1 needs a value").arg(arguments[i]));
        return false;
    }
    value = arguments[++i];
    return true;
}

bool takeOption(StatsOptions& options, const QStringList& arguments, int& i)
{
    const QString& name = arguments[i];
    QString value;
    if (name == u"--json") {
        options.json = true;
        return true;
    }
    if (!takeValue(arguments, i, value))
        return false;
    bool ok = true;
    if (name == u"--since")
        ok = (options.since = parseUtcTime(value)).has_value();
    else if (name == u"--halt-above")
        ok = (options.haltAbove = parseShare(value)).has_value();
    else if (name == u"--min")
        options.minimum = value.toLongLong(&ok);
    else if (name == u"--description")
        options.description = value;
    else if (name == u"--key")
        options.key = value;
    else
        ok = false;
    if (!ok)
        fail(QStringLiteral("%1 does not take %2").arg(name, value));
    return ok;
}

std::optional<StatsOptions> parseOptions(const QStringList& arguments)
{
    StatsOptions options;
    for (int i = 0; i < arguments.size(); ++i) {
        if (!arguments[i].startsWith(u"--"))
            options.logs << arguments[i];
        else if (!takeOption(options, arguments, i))
            return std::nullopt;
    }
    const bool halting = options.haltAbove || options.minimum > 0 ||
                         !options.description.isEmpty() || !options.key.isEmpty();
    if (halting && (!options.haltAbove || options.minimum <= 0 || options.description.isEmpty() ||
                    options.key.isEmpty())) {
        fail("--halt-above SHARE takes --min N (1 or more), --description FILE and --key FILE");
        return std::nullopt;
    }
    if (options.logs.isEmpty()) {
        fail("stats takes one or more access logs");
        return std::nullopt;
    }
    return options;
}

class Tally {
public:
    explicit Tally(std::optional<qint64> since) : since(since) {}

    void add(const LoggedReport& report)
    {
        if ((since && report.time < *since) || !nonces.insert(report.nonce).second)
            return;
        Counts& counts = table[{report.to, report.device}];
        ++counts.reports;
        if (report.result == u"installed")
            ++counts.installed;
        else if (report.result == u"rolled-back")
            ++counts.rolledBack;
        else if (report.result == u"failed")
            ++counts.failed[report.reason];
    }
    bool read(const QString& path);
    const QMap<Key, Counts>& rows() const { return table; }

private:
    std::optional<qint64> since;
    // A report sent again, or logged twice, is one outcome.
    std::unordered_set<quint64> nonces;
    QMap<Key, Counts> table;
};

// Plain or gzip alike: zlib reads a file without its header as it is.
bool Tally::read(const QString& path)
{
    const std::unique_ptr<gzFile_s, decltype(&gzclose)> file(
        gzopen(QFile::encodeName(path).constData(), "rb"), gzclose);
    if (!file) {
        fail(QStringLiteral("cannot read %1").arg(path));
        return false;
    }
    gzbuffer(file.get(), 256 * 1024);
    char line[8192];
    while (gzgets(file.get(), line, sizeof line) != nullptr) {
        const std::string_view text(line);
        if (const std::optional<LoggedReport> report = parseReportLine(text, since.has_value()))
            add(*report);
    }
    int error = Z_OK;
    const char* message = gzerror(file.get(), &error);
    if (error != Z_OK && error != Z_BUF_ERROR) {
        fail(QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(message)));
        return false;
    }
    return true;
}

QString shareText(double share)
{
    return QString::number(share * 100, 'f', 1) + '%';
}

void printTable(const QMap<Key, Counts>& rows)
{
    std::printf("%-16s %-10s %8s %9s %11s %6s %7s %7s  %s\n", "release", "device", "reports",
                "installed", "rolled-back", "failed", "share", "lower", "failed by reason");
    for (auto row = rows.cbegin(); row != rows.cend(); ++row) {
        const Counts& c = row.value();
        QStringList reasons;
        for (auto reason = c.failed.cbegin(); reason != c.failed.cend(); ++reason)
            reasons << QStringLiteral("%1 %2").arg(reason.key()).arg(reason.value());
        std::printf("%-16s %-10s %8lld %9lld %11lld %6lld %7s %7s  %s\n",
                    qPrintable(row.key().first), qPrintable(row.key().second), c.reports,
                    c.installed, c.rolledBack, c.failedTotal(),
                    qPrintable(shareText(double(c.failures()) / double(c.reports))),
                    qPrintable(shareText(wilsonLowerBound(c.failures(), c.reports))),
                    qPrintable(reasons.join(", ")));
    }
}

void printJson(const QMap<Key, Counts>& rows)
{
    QJsonArray array;
    for (auto row = rows.cbegin(); row != rows.cend(); ++row) {
        const Counts& c = row.value();
        QJsonObject failed;
        for (auto reason = c.failed.cbegin(); reason != c.failed.cend(); ++reason)
            failed.insert(reason.key(), reason.value());
        array.append(
            QJsonObject{{"release", row.key().first},
                        {"device", row.key().second},
                        {"reports", c.reports},
                        {"installed", c.installed},
                        {"rolled_back", c.rolledBack},
                        {"failed", failed},
                        {"failure_share", double(c.failures()) / double(c.reports)},
                        {"failure_lower_bound", wilsonLowerBound(c.failures(), c.reports)}});
    }
    std::printf("%s", QJsonDocument(array).toJson(QJsonDocument::Indented).constData());
}

// The release a description offers, as reports name it: software "+" firmware.
struct Release {
    QString software;
    QString firmware;
    bool matches(const QString& reported) const
    {
        const qsizetype plus = reported.indexOf('+');
        return plus >= 0 && (software.isEmpty() || reported.left(plus) == software) &&
               (firmware.isEmpty() || reported.mid(plus + 1) == firmware);
    }
};

std::optional<Release> releaseOf(const QString& description)
{
    const std::optional<QByteArray> bytes = readDescriptionFile(description);
    if (!bytes)
        return std::nullopt;
    XmlParser parser;
    parser.setContent(*bytes);
    parser.get();
    if (parser.software.version.isEmpty() && parser.firmware.version.isEmpty()) {
        fail(QStringLiteral("%1 offers no package").arg(description));
        return std::nullopt;
    }
    return Release{parser.software.version, parser.firmware.version};
}

// Pauses the release when its reports, over every device, fail too often.
int haltWhenFailing(const StatsOptions& options, const QMap<Key, Counts>& rows)
{
    const std::optional<Release> release = releaseOf(options.description);
    if (!release)
        return failedStatus;
    qint64 reports = 0;
    qint64 failures = 0;
    for (auto row = rows.cbegin(); row != rows.cend(); ++row) {
        if (release->matches(row.key().first)) {
            reports += row.value().reports;
            failures += row.value().failures();
        }
    }
    const double bound = wilsonLowerBound(failures, reports);
    const QString standing = QStringLiteral("%1 failed of %2 reports, lower bound %3")
                                 .arg(failures)
                                 .arg(reports)
                                 .arg(shareText(bound));
    if (reports < options.minimum) {
        say(QStringLiteral("not halted: %1; fewer than --min %2")
                .arg(standing)
                .arg(options.minimum));
        return 0;
    }
    if (bound <= *options.haltAbove) {
        say(QStringLiteral("not halted: %1, not above %2")
                .arg(standing, shareText(*options.haltAbove)));
        return 0;
    }
    say(QStringLiteral("halting %1: %2, above %3")
            .arg(options.description, standing, shareText(*options.haltAbove)));
    return changeRollout({QStringLiteral("--pause"), {}, options.description, options.key});
}

} // namespace

double wilsonLowerBound(qint64 failures, qint64 reports)
{
    if (reports <= 0)
        return 0;
    constexpr double z = 1.959963984540054;
    const double n = double(reports);
    const double p = double(failures) / n;
    const double centre = p + z * z / (2 * n);
    const double spread = z * std::sqrt(p * (1 - p) / n + z * z / (4 * n * n));
    return std::max(0.0, (centre - spread) / (1 + z * z / n));
}

int statsCommand(const QStringList& arguments)
{
    const std::optional<StatsOptions> options = parseOptions(arguments);
    if (!options)
        return usageStatus;
    Tally tally(options->since);
    for (const QString& log : options->logs) {
        if (!tally.read(log))
            return failedStatus;
    }
    options->json ? printJson(tally.rows()) : printTable(tally.rows());
    return options->haltAbove ? haltWhenFailing(*options, tally.rows()) : 0;
}
