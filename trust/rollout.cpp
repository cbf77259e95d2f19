#include "trust/rollout.h"

#include "packages/descriptionfields.h"
#include "trust/utctime.h"

#include <QCryptographicHash>
#include <QRegularExpression>

namespace {

constexpr int fullShare = 10000;
constexpr qint64 hourSeconds = 3600;
// Longer than any release is staged: ten years.
constexpr int longestHours = 10 * 366 * 24;

int shareOf(const RolloutStep& step)
{
    return step.percent * 100;
}

} // namespace

std::optional<QList<RolloutStep>> parseRolloutSteps(const QString& text)
{
    static const QRegularExpression stepPattern(QStringLiteral("^(\\d{1,3})%@(\\d{1,6})h$"));
    QList<RolloutStep> steps;
    for (const QString& part : text.split(',')) {
        const QRegularExpressionMatch match = stepPattern.match(part);
        if (!match.hasMatch())
            return std::nullopt;
        const RolloutStep step{match.captured(1).toInt(), match.captured(2).toInt()};
        if (step.percent > 100 || step.hours > longestHours)
            return std::nullopt;
        if (!steps.isEmpty() &&
            (step.hours <= steps.last().hours || step.percent < steps.last().percent))
            return std::nullopt;
        steps.append(step);
    }
    return steps;
}

QString rolloutStepsText(const QList<RolloutStep>& steps)
{
    QStringList parts;
    for (const RolloutStep& step : steps)
        parts << QStringLiteral("%1%@%2h").arg(step.percent).arg(step.hours);
    return parts.join(',');
}

QDomElement rolloutElement(const QDomDocument& doc)
{
    return headerChild(doc, 8, QStringLiteral("Rollout"));
}

void setRolloutAttributes(QDomElement& element, const Rollout& rollout)
{
    element.setAttribute(QStringLiteral("Start"), formatUtcTime(rollout.start));
    element.setAttribute(QStringLiteral("Steps"), rolloutStepsText(rollout.steps));
    element.setAttribute(QStringLiteral("State"),
                         QLatin1String(rollout.paused ? "paused" : "active"));
    element.setAttribute(QStringLiteral("Critical"),
                         QLatin1String(rollout.critical ? "true" : "false"));
}

RolloutRead readRollout(const QDomDocument& doc, Rollout& rollout)
{
    const QDomElement element = rolloutElement(doc);
    if (element.isNull())
        return RolloutRead::Absent;
    const std::optional<qint64> start = parseUtcTime(element.attribute(QStringLiteral("Start")));
    const std::optional<QList<RolloutStep>> steps =
        parseRolloutSteps(element.attribute(QStringLiteral("Steps")));
    const QString state = element.attribute(QStringLiteral("State"));
    const QString critical = element.attribute(QStringLiteral("Critical"), QStringLiteral("false"));
    if (!start || !steps || (state != u"active" && state != u"paused") ||
        (critical != u"true" && critical != u"false"))
        return RolloutRead::Malformed;
    rollout = Rollout{*start, *steps, state == u"paused", critical == u"true"};
    return RolloutRead::Valid;
}

int offeredShare(const Rollout& rollout, qint64 now)
{
    if (rollout.paused)
        return 0;
    if (rollout.critical)
        return fullShare;
    int share = 0;
    for (const RolloutStep& step : rollout.steps) {
        if (now >= rollout.start + step.hours * hourSeconds)
            share = shareOf(step);
    }
    return share;
}

int rolloutDraw(const QByteArray& installId, const QString& device, const QString& softwareVersion,
                const QString& firmwareVersion)
{
    // Lines keep the fields apart: no two inputs hash the same text.
    const QByteArray input = installId + '\n' + device.toUtf8() + '\n' + softwareVersion.toUtf8() +
                             '\n' + firmwareVersion.toUtf8();
    const QByteArray digest = QCryptographicHash::hash(input, QCryptographicHash::Sha256);
    quint64 first = 0;
    for (int k = 0; k < 4; ++k)
        first = (first << 8) | static_cast<unsigned char>(digest[k]);
    return static_cast<int>((first * fullShare) >> 32);
}

RolloutTurn rolloutTurn(const Rollout& rollout, int draw, qint64 now)
{
    RolloutTurn turn;
    turn.offered = draw < offeredShare(rollout, now);
    for (const RolloutStep& step : rollout.steps) {
        if (draw < shareOf(step)) {
            turn.step = step;
            turn.from = rollout.start + step.hours * hourSeconds;
            break;
        }
    }
    return turn;
}
