#include "trust/descriptionbinding.h"

#include "packages/xmlparser.h"

#include <QList>
#include <QRegularExpression>

#include <optional>

namespace {

struct DottedVersion {
    QString prefix;
    QList<qulonglong> numbers;
};

std::optional<DottedVersion> dottedVersion(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^(\\D*)(\\d{1,18}(?:\\.\\d{1,18})*)$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    DottedVersion version{match.captured(1), {}};
    for (const QString& number : match.captured(2).split(QLatin1Char('.')))
        version.numbers.append(number.toULongLong());
    return version;
}

// Negative, zero or positive as a is before, equal to or after b.
int compareNumbers(QList<qulonglong> a, QList<qulonglong> b)
{
    const qsizetype length = qMax(a.size(), b.size());
    a.resize(length, 0);
    b.resize(length, 0);
    for (qsizetype k = 0; k < length; ++k) {
        if (a[k] != b[k])
            return a[k] < b[k] ? -1 : 1;
    }
    return 0;
}

// A package that names no file offers nothing to take back.
bool withdrawWhenStale(PackageInfo& package, const QString& installed)
{
    if (package.filename.isEmpty() || isNewerVersion(package.version, installed))
        return false;
    qWarning("package not offered: version %s is not later than %s installed",
             qPrintable(package.version), qPrintable(installed));
    package = PackageInfo();
    return true;
}

} // namespace

std::optional<int> compareVersions(const QString& a, const QString& b)
{
    const std::optional<DottedVersion> first = dottedVersion(a);
    const std::optional<DottedVersion> second = dottedVersion(b);
    if (first && second && first->prefix == second->prefix)
        return compareNumbers(first->numbers, second->numbers);
    return std::nullopt;
}

bool isNewerVersion(const QString& offered, const QString& installed)
{
    const std::optional<int> order = compareVersions(offered, installed);
    return order ? *order > 0 : offered != installed;
}

QString bindingRefusal(const XmlParser& parser, const InstallationIdentity& installation)
{
    if (parser.clientGroup != installation.clientGroup)
        return QStringLiteral("for client group %1, not %2")
            .arg(parser.clientGroup, installation.clientGroup);
    return {};
}

void withdrawStalePackages(XmlParser& parser, const InstallationIdentity& installation)
{
    const bool software = withdrawWhenStale(parser.software, installation.softwareVersion);
    const bool firmware = withdrawWhenStale(parser.firmware, installation.firmwareVersion);
    parser.packageCount -= int(software) + int(firmware);
    const bool anyOffered =
        !parser.software.filename.isEmpty() || !parser.firmware.filename.isEmpty();
    if ((software || firmware) && !anyOffered)
        parser.flag = QStringLiteral("1"); // nothing new for this installation
}
