#include "packages/xmlparser.h"

#include <QFile>

#include <initializer_list>

#include "base/nofollowfile.h"
#include "packages/descriptioncheck.h"
#include "packages/plainfilename.h"

namespace {

struct TextField {
    QLatin1String name;
    QString* target;
};

bool isElementNamed(const QDomNode& node, QLatin1String name)
{
    return node.isElement() && node.nodeName() == name;
}

// Each name is looked for only at its own position; a node of another kind or
// name there leaves its field untouched.
void readChildTexts(const QDomNode& parent, std::initializer_list<TextField> fields)
{
    QDomNode child = parent.firstChild();
    for (const TextField& field : fields) {
        if (isElementNamed(child, field.name))
            *field.target = child.toElement().text();
        child = child.nextSibling();
    }
}

void readPackage(const QDomElement& element, PackageInfo& package)
{
    package.priorityFlag = element.attribute(QStringLiteral("PriorityFlag"));
    package.filename = element.attribute(QStringLiteral("Filename"));
    package.size = element.attribute(QStringLiteral("Size"));
    package.md5 = element.attribute(QStringLiteral("MD5"));
    package.url = element.attribute(QStringLiteral("URL"));
    package.operatingSystem = element.attribute(QStringLiteral("OperatingSystem"));
    package.packageClass = element.attribute(QStringLiteral("Class"));
    package.language = element.attribute(QStringLiteral("Language"));
    package.version = element.attribute(QStringLiteral("Version"));
    package.text = element.text();
    // The file name is joined to the installation directory later; one that
    // could leave it makes the package unchoosable instead.
    if (!isPlainFileName(package.filename))
        package.filename.clear();
}

// The package's "Class" alone decides which record it fills.
PackageInfo* recordForClass(XmlParser& parser, const QString& packageClass)
{
    if (packageClass == QLatin1String("Software Version"))
        return &parser.software;
    if (packageClass == QLatin1String("Firmware Version"))
        return &parser.firmware;
    return nullptr;
}

// Never more than one byte past the limit: enough to refuse a larger one. A
// link or anything but a regular file reads as nothing.
QByteArray readDescriptionFile(const QString& path)
{
    QFile file;
    return openRegularFileNoFollow(file, path) ? file.read(MaxDescriptionBytes + 1) : QByteArray();
}

} // namespace

void XmlParser::setFile(const QString& path)
{
    setContent(readDescriptionFile(path));
}

void XmlParser::setContent(const QByteArray& bytes)
{
    content = bytes;
    doc = QDomDocument();
    if (const std::optional<QString> refusal = descriptionRefusal(content)) {
        qWarning("Description.xml refused: %s", qUtf8Printable(*refusal));
        return;
    }
    // A failed parse may leave a partial tree behind; nothing of it may count.
    if (!doc.setContent(content, false))
        doc = QDomDocument();
}

bool XmlParser::get()
{
    const QDomElement root = doc.documentElement();
    const QDomNode header = root.firstChild();
    if (!header.hasChildNodes())
        return false;

    flag = isElementNamed(header, QLatin1String("Flag")) ? header.toElement().text()
                                                         : QStringLiteral("5");
    readChildTexts(header, {{QLatin1String("Version"), &version},
                            {QLatin1String("Description"), &description},
                            {QLatin1String("Device"), &device},
                            {QLatin1String("ClientGroup"), &clientGroup},
                            {QLatin1String("ClientID"), &clientId}});

    const QDomNode packageList = header.nextSibling();
    QDomNode package = packageList.firstChild();
    for (int position = 0; position < 2; ++position, package = package.nextSibling()) {
        const QDomElement element = package.toElement();
        if (PackageInfo* record =
                recordForClass(*this, element.attribute(QStringLiteral("Class")))) {
            readPackage(element, *record);
            ++packageCount;
        }
    }

    const QDomNode server = packageList.nextSibling().firstChild();
    readChildTexts(server, {{QLatin1String("IP"), &ftpIp},
                            {QLatin1String("Port"), &ftpPort},
                            {QLatin1String("UserName"), &ftpUserName},
                            {QLatin1String("Password"), &ftpPassword}});
    return true;
}
