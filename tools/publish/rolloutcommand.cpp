#include "rolloutcommand.h"

#include "check.h"
#include "outputfile.h"
#include "packages/descriptionfields.h"
#include "report.h"
#include "trust/rollout.h"
#include "trust/utctime.h"

#include <QDateTime>

#include <optional>

namespace {

bool takeChange(RolloutOptions& options, const QStringList& arguments, int& i)
{
    if (!options.change.isEmpty()) {
        fail(QStringLiteral("one change at a time: %1 and %2").arg(options.change, arguments[i]));
        return false;
    }
    options.change = arguments[i];
    if (options.change != u"--steps")
        return true;
    const std::optional<QList<RolloutStep>> steps =
        parseRolloutSteps(i + 1 < arguments.size() ? arguments[++i] : QString());
    if (!steps) {
        fail("--steps takes steps like 5%@0h,25%@24h,100%@72h: hours rising, shares not falling");
        return false;
    }
    options.steps = *steps;
    return true;
}

std::optional<RolloutOptions> parseOptions(const QStringList& arguments)
{
    static const QStringList changes = {"--pause", "--resume", "--steps", "--critical"};
    RolloutOptions options;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (changes.contains(argument)) {
            if (!takeChange(options, arguments, i))
                return std::nullopt;
        } else if (argument == u"--key" && i + 1 < arguments.size()) {
            options.key = arguments[++i];
        } else if (!argument.startsWith('-') && options.description.isEmpty()) {
            options.description = argument;
        } else {
            fail(QStringLiteral("unexpected argument %1").arg(argument));
            return std::nullopt;
        }
    }
    if (options.change.isEmpty() || options.description.isEmpty() || options.key.isEmpty()) {
        fail("rollout takes one of --pause, --resume, --steps STEPS, --critical, a "
             "description and --key FILE");
        return std::nullopt;
    }
    return options;
}

QString stateText(const Rollout& rollout)
{
    return QStringLiteral("%1%2, steps %3 from %4")
        .arg(QLatin1String(rollout.paused ? "paused" : "active"),
             QLatin1String(rollout.critical ? ", critical" : ""), rolloutStepsText(rollout.steps),
             formatUtcTime(rollout.start));
}

// A release without a rollout so far is offered to all from now.
Rollout changed(const Rollout& before, bool existed, const RolloutOptions& options, qint64 now)
{
    Rollout after = existed ? before : Rollout{now, {{100, 0}}, false, false};
    if (options.change == u"--pause")
        after.paused = true;
    else if (options.change == u"--resume")
        after.paused = false;
    else if (options.change == u"--critical")
        after.critical = true;
    else
        after.steps = options.steps;
    return after;
}

// The rollout's element, the header's eighth child after the two times.
QDomElement placedRollout(QDomDocument& doc)
{
    QDomElement element = rolloutElement(doc);
    if (!element.isNull())
        return element;
    QDomElement expires = expiresElement(doc);
    if (expires.isNull())
        return element;
    element = doc.createElement(QStringLiteral("Rollout"));
    expires.parentNode().insertAfter(element, expires);
    return element;
}

// Issued anew, after the time it replaces: installations take only a later one.
bool reissue(QDomDocument& doc, qint64 now)
{
    QDomElement issued = issuedElement(doc);
    const std::optional<qint64> before = parseUtcTime(issued.text());
    if (!before)
        return false;
    while (issued.hasChildNodes())
        issued.removeChild(issued.firstChild());
    issued.appendChild(doc.createTextNode(formatUtcTime(qMax(now, *before + 1))));
    return true;
}

bool writeSigned(const RolloutOptions& options, const QByteArray& bytes)
{
    QByteArray signature;
    QString signer;
    QString error;
    if (!signDescription(options.key, options.description, bytes, signature, signer))
        return false;
    const QString sigPath = options.description + QStringLiteral(".sig");
    if (!writeOutputFile(options.description, bytes, 0644, false, error) ||
        !writeOutputFile(sigPath, signature, 0644, false, error)) {
        fail(error);
        return false;
    }
    reportWritten(options.description, bytes.size());
    reportWritten(sigPath, signature.size());
    say(QStringLiteral("signed with key %1").arg(signer));
    return true;
}

} // namespace

int rolloutCommand(const QStringList& arguments)
{
    const std::optional<RolloutOptions> options = parseOptions(arguments);
    return options ? changeRollout(*options) : usageStatus;
}

int changeRollout(const RolloutOptions& options)
{
    const std::optional<QByteArray> bytes = readDescriptionFile(options.description);
    if (!bytes)
        return failedStatus;
    QDomDocument doc;
    doc.setContent(*bytes);
    Rollout before;
    const RolloutRead read = readRollout(doc, before);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QDomElement element = placedRollout(doc);
    if (read == RolloutRead::Malformed || element.isNull() || !reissue(doc, now)) {
        fail(QStringLiteral("%1 has no Issued and Expires, or a rollout that cannot be read: "
                            "describe it again")
                 .arg(options.description));
        return failedStatus;
    }
    const Rollout after = changed(before, read == RolloutRead::Valid, options, now);
    setRolloutAttributes(element, after);
    if (!writeSigned(options, doc.toByteArray(2)))
        return failedStatus;
    say(QStringLiteral("rollout: %1 -> %2")
            .arg(read == RolloutRead::Valid ? stateText(before) : QStringLiteral("none (all)"),
                 stateText(after)));
    say(QStringLiteral("offered now to %1 % of installations").arg(offeredShare(after, now) / 100));
    return 0;
}
