#include "agent/checkanswer.h"

#include "packages/descriptionfields.h"
#include "packages/knownbad.h"
#include "packages/xmlparser.h"
#include "trust/descriptionbinding.h"
#include "trust/updatetrust.h"

#include <QFileInfo>

namespace {

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

// A description that passed its checks, by what it says.
CheckOutcome acceptedOutcome(const QString& basePath, XmlParser& parser,
                             const InstallationIdentity& installation)
{
    const int flag = parser.flag.toInt(); // text that is no number counts as 0
    if (flag == 0)
        return {Result::CheckFailed,
                parser.doc.isNull() ? Reason::NoDescription : Reason::FailedStatus};
    // A new version whose packages are all not later than the installed ones.
    if (offersNothing(parser))
        return offersNewVersion(parser.doc) ? CheckOutcome{Result::Refused, Reason::NotNewer}
                                            : CheckOutcome{Result::UpToDate};
    return offerOutcome(basePath, parser, installation);
}

} // namespace

CheckOutcome judgeCheckAnswer(const QString& basePath, XmlParser& parser,
                              const InstallationIdentity& installation)
{
    // The agent removes the last answer before it asks; none means it got none.
    if (!QFileInfo::exists(basePath + QStringLiteral("/Description.xml")))
        return {Result::CheckFailed, Reason::ServerUnreachable};
    parser.version.clear();
    parser.description.clear();
    parser.setFile(basePath + QStringLiteral("/Description.xml"));
    parser.get();
    QString keyId;
    Reason refusal = Reason::Refused;
    if (!acceptDescription(basePath, parser, installation, &keyId, &refusal))
        return {Result::Refused, refusal};
    CheckOutcome outcome = acceptedOutcome(basePath, parser, installation);
    outcome.keyId = keyId;
    return outcome;
}
