#include "updatesource.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

void writeTree(const QString& root, const UpdateSource::Tree& files)
{
    for (auto file = files.begin(); file != files.end(); ++file) {
        const QString path = root + '/' + file.key();
        QDir().mkpath(QFileInfo(path).path());
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(file.value());
    }
}

UpdateSource::UpdateSource(QString dir) : directory(std::move(dir))
{
    QDir().mkpath(directory);
}

void UpdateSource::addSoftware(const QString& filename, const Tree& files)
{
    add("Software Version", filename, files);
}

void UpdateSource::addFirmware(const QString& filename, const Tree& files)
{
    add("Firmware Version", filename, files);
}

void UpdateSource::add(const QByteArray& packageClass, const QString& filename, const Tree& files)
{
    QTemporaryDir tree;
    writeTree(tree.path(), files);
    QProcess zip;
    zip.setWorkingDirectory(tree.path());
    zip.start("sh", {"-c", "zip -q -r \"$0\" .", packagePath(filename)});
    QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
    packages << Package{packageClass, filename};
}

void UpdateSource::damage(const QString& filename) const
{
    QFile package(packagePath(filename));
    QVERIFY(package.open(QIODevice::ReadWrite));
    QByteArray bytes = package.readAll();
    bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x01);
    QVERIFY(package.seek(0));
    QCOMPARE(package.write(bytes), bytes.size());
}

QByteArray UpdateSource::element(const Package& package, bool corruptMd5) const
{
    QFile file(packagePath(package.filename));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray content = file.readAll();
    QByteArray md5 = QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
    if (corruptMd5)
        md5.fill('0');
    const QString url =
        packageBaseUrl.isEmpty()
            ? QUrl::fromLocalFile(packagePath(package.filename)).toString(QUrl::FullyEncoded)
            : packageBaseUrl + '/' + QUrl::toPercentEncoding(package.filename);
    return "<Package Class=\"" + package.packageClass + "\" Filename=\"" +
           package.filename.toHtmlEscaped().toUtf8() + "\" Size=\"" +
           QByteArray::number(content.size()) + "\" MD5=\"" + md5 + "\" URL=\"" +
           url.toHtmlEscaped().toUtf8() + "\" PriorityFlag=\"1\" Version=\"2.0\">" +
           package.packageClass + " 2.0</Package>";
}

void UpdateSource::publish(const QByteArray& device, bool corruptMd5) const
{
    QByteArray list;
    for (const Package& package : packages)
        list += element(package, corruptMd5);
    QFile description(directory + "/Description.xml");
    QVERIFY(description.open(QIODevice::WriteOnly | QIODevice::Truncate));
    description.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<UpdateDescription>\n"
                      "  <Info><Version>2.0</Version><Description>Faster and safer</Description>"
                      "<Device>" +
                      device +
                      "</Device><ClientGroup>retail</ClientGroup><ClientID>1</ClientID></Info>\n"
                      "  <Packages>" +
                      list +
                      "</Packages>\n"
                      "  <Servers><Server><IP>127.0.0.1</IP><Port>21</Port><UserName>u</UserName>"
                      "<Password>p</Password></Server></Servers>\n</UpdateDescription>\n");
}

void UpdateSource::publishDescription(const QByteArray& content) const
{
    QFile description(directory + "/Description.xml");
    QVERIFY(description.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(description.write(content), content.size());
}

bool UpdateSource::describeWithDelta(const QString& tool, const QString& kind,
                                     const QString& package, const QString& base) const
{
    return describe(tool, {kind, package, "--delta-from", base});
}

bool UpdateSource::describe(const QString& tool, const QStringList& packages) const
{
    QProcess describe;
    describe.start(tool, QStringList{"describe", "--output", packagePath("Description.xml"),
                                     "--version", "2.0", "--device", "RX481", "--client-group",
                                     "retail", "--url-base", url()} +
                             packages);
    return describe.waitForFinished() && describe.exitCode() == 0;
}
