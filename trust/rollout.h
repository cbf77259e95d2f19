#pragma once

#include <QByteArray>
#include <QDomDocument>
#include <QList>
#include <QString>

#include <optional>

// A release offered in stages: from its start, each step offers it to a
// larger share of installations. Every installation decides for itself from
// a draw of its own; the signed description is all the server holds.
struct RolloutStep {
    int percent; // of installations offered, 0 to 100
    int hours;   // since the start
    bool operator==(const RolloutStep&) const = default;
};

struct Rollout {
    qint64 start = 0; // seconds since the epoch
    QList<RolloutStep> steps;
    bool paused = false;
    // Skips the steps, but not a pause.
    bool critical = false;
};

// Steps written as "5%@0h,25%@24h,100%@72h": hours rising, percents not
// falling. Nothing for any other text.
std::optional<QList<RolloutStep>> parseRolloutSteps(const QString& text);
QString rolloutStepsText(const QList<RolloutStep>& steps);

// The header's eighth child, "Rollout", with the attributes "Start", "Steps",
// "State" (active or paused) and "Critical" (true or false).
QDomElement rolloutElement(const QDomDocument& doc);
void setRolloutAttributes(QDomElement& element, const Rollout& rollout);

enum class RolloutRead { Absent, Valid, Malformed };
RolloutRead readRollout(const QDomDocument& doc, Rollout& rollout);

// The share offered at now, in hundredths of a percent (0 to 10000).
int offeredShare(const Rollout& rollout, qint64 now);

// An installation's place in the release, 0 to 9999: stable across runs,
// independent between releases.
int rolloutDraw(const QByteArray& installId, const QString& device, const QString& softwareVersion,
                const QString& firmwareVersion);

// Where an installation with this draw stands.
struct RolloutTurn {
    bool offered = false;
    // The step that reaches it and when; no step when none ever does.
    std::optional<RolloutStep> step;
    std::optional<qint64> from;
};
RolloutTurn rolloutTurn(const Rollout& rollout, int draw, qint64 now);
