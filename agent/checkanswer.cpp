#include "agent/checkanswer.h"

#include "base/installid.h"
#include "base/nofollowfile.h"
#include "history/recordwords.h"
#include "packages/descriptionfields.h"
#include "packages/knownbad.h"
#include "packages/xmlparser.h"
#include "trust/descriptionbinding.h"
#include "trust/rollout.h"
#include "trust/updatetrust.h"

#include <QFileInfo>

namespace {

// Why the agent got no description, by the word it left beside it; a server it
// never reached when it left none or one we do not know.
Reason missingDescriptionReason(const QString& basePath)
{
    QFile file;
    if (!openRegularFileNoFollow(file, basePath + QStringLiteral("/Description.xml.failed")))
        return Reason::ServerUnreachable;
    const QByteArray said = file.read(32).trimmed();
    for (const Reason reason :
         {Reason::NoDescription, Reason::ProxyFailed, Reason::Stalled, Reason::ServerUnreachable})
        if (said == word(reason))
            return reason;
    return Reason::ServerUnreachable;
}

bool offersNothing(const XmlParser& parser)
{
    const int flag = parser.flag.toInt();
    return flag >= 1 && flag <= 3;
}

// A new version: offered, but for the packages that failed here before.
CheckOutcome offerOutcome(const QString& basePath, XmlParser& parser,
                          const InstallationIdentity& installation)
{
    const PackageInfo software = parser.software;
    const SelectedModule withdrawn = withdrawKnownBad(basePath, parser);
    if (withdrawn == SELECTED_NONE)
        return {Result::Offered};
    CheckOutcome outcome{offersNothing(parser) ? Result::Refused : Result::Offered,
                         Reason::KnownBad};
    if (includesSoftware(withdrawn))
        outcome.software =
            ModuleRecord{installation.softwareVersion, software.version, Result::Refused};
    return outcome;
}

// Without an id of its own an installation is last in line: offered only
// once the release reaches everyone.
int drawOf(const QString& basePath, const XmlParser& parser)
{
    const QByteArray id = installationId(basePath);
    if (id.isEmpty()) {
        qWarning("no installation id in %s: this computer waits for the whole release",
                 qPrintable(basePath));
        return 9999;
    }
    return rolloutDraw(id, parser.device, parser.software.version, parser.firmware.version);
}

CheckOutcome heldBackOutcome(const XmlParser& parser, const Rollout& rollout,
                             const RolloutTurn& turn)
{
    HeldBack held{parser.version, rollout.paused};
    if (turn.step)
        held.percent = turn.step->percent;
    if (turn.from && !rollout.paused)
        held.from = QDateTime::fromSecsSinceEpoch(*turn.from, Qt::UTC);
    CheckOutcome outcome{Result::HeldBack};
    outcome.heldBack = held;
    return outcome;
}

// An offer this installation's turn in a staged release has not come for.
std::optional<CheckOutcome> stagedOutcome(const QString& basePath, const XmlParser& parser,
                                          qint64 now)
{
    Rollout rollout;
    switch (readRollout(parser.doc, rollout)) {
    case RolloutRead::Absent:
        return std::nullopt;
    case RolloutRead::Malformed:
        return CheckOutcome{Result::Refused, Reason::Refused};
    case RolloutRead::Valid:
        break;
    }
    const RolloutTurn turn = rolloutTurn(rollout, drawOf(basePath, parser), now);
    if (turn.offered)
        return std::nullopt;
    return heldBackOutcome(parser, rollout, turn);
}

// A description that passed its checks, by what it says.
CheckOutcome acceptedOutcome(const QString& basePath, XmlParser& parser,
                             const InstallationIdentity& installation, const StagesClock& clock)
{
    const int flag = parser.flag.toInt(); // text that is no number counts as 0
    if (flag == 0)
        return {Result::CheckFailed,
                parser.doc.isNull() ? Reason::NoDescription : Reason::FailedStatus};
    // A new version whose packages are all not later than the installed ones.
    if (offersNothing(parser))
        return offersNewVersion(parser.doc) ? CheckOutcome{Result::Refused, Reason::NotNewer}
                                            : CheckOutcome{Result::UpToDate};
    const std::optional<CheckOutcome> staged = stagedOutcome(basePath, parser, clock.now);
    // Early goes before this computer's turn, never past the publisher's pause.
    const bool takenEarly = staged && clock.early && staged->heldBack && !staged->heldBack->paused;
    if (staged && !takenEarly)
        return *staged;
    CheckOutcome offer = offerOutcome(basePath, parser, installation);
    offer.early = staged.has_value();
    return offer;
}

} // namespace

CheckOutcome judgeCheckAnswer(const QString& basePath, XmlParser& parser,
                              const InstallationIdentity& installation, const StagesClock& clock)
{
    // The agent removes the last answer before it asks; none means it got none.
    if (!QFileInfo::exists(basePath + QStringLiteral("/Description.xml")))
        return {Result::CheckFailed, missingDescriptionReason(basePath)};
    parser.version.clear();
    parser.description.clear();
    parser.setFile(basePath + QStringLiteral("/Description.xml"));
    parser.get();
    QString keyId;
    Reason refusal = Reason::Refused;
    if (!acceptDescription(basePath, parser, installation, &keyId, &refusal))
        return {Result::Refused, refusal};
    CheckOutcome outcome = acceptedOutcome(basePath, parser, installation, clock);
    outcome.keyId = keyId;
    return outcome;
}
