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

// A new version: offered, unless its software package failed here before.
CheckOutcome offerOutcome(const QString& basePath, XmlParser& parser,
                          const InstallationIdentity& installation)
{
    const PackageInfo software = parser.software;
    if (!withdrawKnownBad(basePath, parser))
        return {"offered"};
    return {offersNothing(parser) ? "refused" : "offered", "known-bad",
            ModuleRecord{installation.softwareVersion, software.version, "refused"}};
}

// A description that passed its checks, by what it says.
CheckOutcome acceptedOutcome(const QString& basePath, XmlParser& parser,
                             const InstallationIdentity& installation)
{
    const int flag = parser.flag.toInt(); // text that is no number counts as 0
    if (flag == 0)
        return {"check-failed", parser.doc.isNull() ? "no-description" : "failed-status"};
    // A new version whose packages are all not later than the installed ones.
    if (offersNothing(parser))
        return offersNewVersion(parser.doc) ? CheckOutcome{"refused", "not-newer"}
                                            : CheckOutcome{"up-to-date"};
    return offerOutcome(basePath, parser, installation);
}

} // namespace

CheckOutcome judgeCheckAnswer(const QString& basePath, XmlParser& parser,
                              const InstallationIdentity& installation)
{
    // The agent removes the last answer before it asks; none means it got none.
    if (!QFileInfo::exists(basePath + QStringLiteral("/Description.xml")))
        return {"check-failed", "server-unreachable"};
    parser.version.clear();
    parser.description.clear();
    parser.setFile(QString());
    parser.get();
    QString keyId;
    QString refusal;
    if (!acceptDescription(basePath, parser, installation, &keyId, &refusal))
        return {"refused", refusal};
    CheckOutcome outcome = acceptedOutcome(basePath, parser, installation);
    outcome.keyId = keyId;
    return outcome;
}
