#include "packages/selectionfile.h"

#include "packages/descriptionfields.h"

#include <QByteArray>
#include <QSaveFile>

namespace {

// The agent reads the file as XML, so markup characters in a value are escaped.
QByteArray escaped(const QString& value)
{
    return value.toHtmlEscaped().toUtf8();
}

QByteArray fileEntry(const PackageInfo& package)
{
    return "<UpdateFile Filename=\"" + escaped(package.filename) + "\" Size=\"" +
           escaped(package.size) + "\" MD5=\"" + escaped(package.md5) + "\" URL=\"" +
           escaped(package.url) + "\"></UpdateFile>";
}

QByteArray textElement(const QByteArray& name, const QString& value)
{
    return '<' + name + '>' + escaped(value) + "</" + name + '>';
}

QByteArray fileEntries(SelectedModule module, const PackageInfo& software,
                       const PackageInfo& firmware)
{
    switch (module) {
    case SELECTED_FIRMWARE:
        return fileEntry(firmware);
    case SELECTED_SOFTWARE:
        return fileEntry(software);
    default:
        return fileEntry(software) + fileEntry(firmware);
    }
}

const char* moduleTag(SelectedModule module)
{
    switch (module) {
    case SELECTED_FIRMWARE:
        return "FW";
    case SELECTED_SOFTWARE:
        return "SW";
    default:
        return "FS";
    }
}

// Only a description with mirrors adds the block the agent fails over with.
QByteArray mirrorBlock(const QDomDocument& doc)
{
    const QStringList bases = mirrorBases(doc);
    if (bases.isEmpty())
        return {};
    QByteArray block = "<Mirrors>";
    for (const QString& base : bases)
        block += textElement("Mirror", base);
    return block + "</Mirrors>";
}

} // namespace

QByteArray composeSelection(const XmlParser& description, SelectedModule module,
                            const PackageInfo& software, const PackageInfo& firmware)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><UpdateConfig><UpdateFiles>" +
           fileEntries(module, software, firmware) + "</UpdateFiles><Ftp><Server>" +
           textElement("IP", description.ftpIp) + textElement("Port", description.ftpPort) +
           textElement("UserName", description.ftpUserName) +
           textElement("Password", description.ftpPassword) + "</Server></Ftp>" +
           mirrorBlock(description.doc) + "</UpdateConfig>";
}

void writeSelectionFile(const QString& basePath, const XmlParser& description,
                        SelectedModule module)
{
    writeSelectionFile(basePath, description, module, description.software, description.firmware);
}

void writeSelectionFile(const QString& basePath, const XmlParser& description,
                        SelectedModule module, const PackageInfo& software,
                        const PackageInfo& firmware)
{
    // All or nothing: the agent must never find a half-written selection. In a
    // directory the updater may not write, an existing file is rewritten in
    // place instead: the agent would otherwise fetch the earlier selection.
    QSaveFile file(basePath + QStringLiteral("/UserSelection.xml"));
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return;
    qWarning("%s", moduleTag(module));
    file.write(composeSelection(description, module, software, firmware));
    file.commit();
}
