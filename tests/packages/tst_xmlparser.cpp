#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "packages/descriptioncheck.h"
#include "packages/xmlparser.h"

namespace {

const QString kUnset = QStringLiteral("unset");

QString summary(const PackageInfo& p)
{
    return QStringList{p.priorityFlag,    p.filename,     p.size,     p.md5,     p.url,
                       p.operatingSystem, p.packageClass, p.language, p.version, p.text}
        .join(QLatin1Char('|'));
}

const QByteArray kHeader = "<Head><Version>V2.0</Version><Description>Fixes</Description>"
                           "<Device>E1750</Device><ClientGroup>G1</ClientGroup>"
                           "<ClientID>C7</ClientID></Head>";
const QByteArray kServer = "<Ftp><Server><IP>10.0.0.1</IP><Port>21</Port>"
                           "<UserName>anon</UserName><Password>pw</Password></Server></Ftp>";

QByteArray package(const QByteArray& packageClass, const QByteArray& filename)
{
    return "<Package Class=\"" + packageClass + "\" Filename=\"" + filename +
           "\" Size=\"2048\" MD5=\"abc\" URL=\"http://h/" + filename + "\">T</Package>";
}

// A software package whose text nests `levels` elements below the package,
// which itself lies three deep (root, package list, package).
QByteArray nestedDescription(int levels)
{
    return "<r>" + kHeader + "<L><Package Class=\"Software Version\" Filename=\"cm.zip\">" +
           QByteArray("<b>").repeated(levels) + "T" + QByteArray("</b>").repeated(levels) +
           "</Package></L>" + kServer + "</r>";
}

QByteArray paddedDescription(qsizetype size)
{
    const QByteArray content = nestedDescription(0);
    return content + QByteArray(size - content.size(), ' ');
}

// UTF-16 can hold what UTF-8 cannot: a lone surrogate.
QByteArray utf16Description(const QString& filename)
{
    QString content =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?><r>" +
        QString::fromUtf8(kHeader + "<L>" + package("Software Version", "NAME") + "</L>") + "</r>";
    content.replace(QStringLiteral("NAME"), filename);
    QByteArray bytes("\xFF\xFE");
    for (const QChar c : content)
        bytes.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    return bytes;
}

} // namespace

class TestXmlParser final : public QObject {
    Q_OBJECT

private:
    static bool load(XmlParser& parser, const QByteArray& content)
    {
        parser.setContent(content);
        return parser.get();
    }

private slots:
    // The file form reads the one regular file in the installation directory,
    // never through a link: what it reads must walk as the same bytes do.
    void fileFormReadsTheRegularFileOnly_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("walked");
        QTest::newRow("regular file") << "file" << true;
        QTest::newRow("missing file") << "none" << false;
        QTest::newRow("link to a description") << "link" << false;
        QTest::newRow("directory") << "directory" << false;
    }

    void fileFormReadsTheRegularFileOnly()
    {
        QFETCH(QString, kind);
        QFETCH(bool, walked);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray content = "<r>" + kHeader + "</r>";
        const QString path = dir.filePath(QStringLiteral("Description.xml"));
        const QString elsewhere = dir.filePath(QStringLiteral("elsewhere.xml"));
        QFile file(kind == u"file" ? path : elsewhere);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        if (kind == u"link")
            QVERIFY(QFile::link(elsewhere, path));
        if (kind == u"directory")
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Description.xml")));
        XmlParser parser;
        parser.setFile(dir.filePath(QStringLiteral("Description.xml")));
        QCOMPARE(parser.get(), walked);
        QCOMPARE(parser.content, walked ? content : QByteArray());
        QCOMPARE(parser.version, walked ? QStringLiteral("V2.0") : QString());
    }

    void walkStopsAtOnce_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("no bytes") << QByteArray();
        QTest::newRow("empty file") << QByteArray("");
        QTest::newRow("not xml") << QByteArray("Flag=1\n");
        QTest::newRow("truncated") << QByteArray("<r><Flag>1</Flag><Head><Version>V2</Version>");
        QTest::newRow("two roots") << QByteArray("<r><Flag>1</Flag></r><r/>");
        QTest::newRow("empty root") << QByteArray("<r/>");
        QTest::newRow("empty flag") << QByteArray("<r><Flag/></r>");
        QTest::newRow("blank flag") << QByteArray("<r><Flag>  \n </Flag></r>");
        QTest::newRow("comment header") << QByteArray("<r><!--c-->" + kHeader + "</r>");
        QTest::newRow("text header") << QByteArray("<r>x" + kHeader + "</r>");
    }

    void walkStopsAtOnce()
    {
        QFETCH(QByteArray, content);
        XmlParser parser;
        parser.flag = kUnset;
        QVERIFY(!load(parser, content));
        QCOMPARE(parser.flag, kUnset);
        QVERIFY(parser.version.isNull());
        QCOMPARE(parser.packageCount, 0);
    }

    void flag_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QString>("flag");
        QTest::newRow("status only") << QByteArray("<Flag>1</Flag>") << "1";
        QTest::newRow("kept verbatim") << QByteArray("<Flag> 3 </Flag>") << " 3 ";
        QTest::newRow("nested text") << QByteArray("<Flag>1<b>2</b><!--x-->3</Flag>") << "123";
        QTest::newRow("other name") << QByteArray("<Head><Other>1</Other></Head>") << "5";
        QTest::newRow("lower case") << QByteArray("<flag>1</flag>") << "5";
    }

    void flag()
    {
        QFETCH(QByteArray, header);
        QFETCH(QString, flag);
        XmlParser parser;
        QVERIFY(load(parser, "<r>" + header + "</r>"));
        QCOMPARE(parser.flag, flag);
        QCOMPARE(parser.packageCount, 0);
        QVERIFY(parser.version.isEmpty());
        QCOMPARE(summary(parser.software), QStringLiteral("|||||||||"));
        QVERIFY(parser.ftpIp.isEmpty());
    }

    void fullDescription_data()
    {
        QTest::addColumn<QByteArray>("content");
        const QByteArray compact =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Root>" + kHeader +
            "<Packages><Package Class=\"Software Version\" PriorityFlag=\"High\" "
            "Filename=\"cm.zip\" Size=\"4096\" MD5=\"d41d\" URL=\"http://h/cm.zip?a=1&amp;b=2\" "
            "OperatingSystem=\"Linux\" Language=\"en\" Version=\"1.2\">New <b>UI</b></Package>"
            "<Package Version=\"11.0\" Language=\"zh\" OperatingSystem=\"Any\" "
            "URL=\"ftp://h/fw.bin\" MD5=\"e3b0\" Size=\"1024\" Filename=\"fw.bin\" "
            "PriorityFlag=\"Low\" Class=\"Firmware Version\">Modem fix</Package></Packages>" +
            kServer + "</Root>";
        QByteArray indented = compact;
        for (const char* tag : {"<Head>", "<Version>", "<Packages>", "<Package ", "</Packages>",
                                "<Ftp>", "<Server>", "<IP>", "<Password>", "</Root>"})
            indented.replace(tag, QByteArray("\n\t  ") + tag);
        QTest::newRow("compact") << compact;
        QTest::newRow("indented") << indented;
        QTest::newRow("crlf") << QByteArray(indented).replace('\n', "\r\n");
    }

    void fullDescription()
    {
        QFETCH(QByteArray, content);
        XmlParser parser;
        QVERIFY(load(parser, content));
        QCOMPARE(parser.flag, QStringLiteral("5"));
        QCOMPARE(parser.version, QStringLiteral("V2.0"));
        QCOMPARE(parser.description, QStringLiteral("Fixes"));
        QCOMPARE(parser.device, QStringLiteral("E1750"));
        QCOMPARE(parser.clientGroup, QStringLiteral("G1"));
        QCOMPARE(parser.clientId, QStringLiteral("C7"));
        QCOMPARE(parser.packageCount, 2);
        QCOMPARE(summary(parser.software),
                 QStringLiteral("High|cm.zip|4096|d41d|http://h/cm.zip?a=1&b=2|Linux|"
                                "Software Version|en|1.2|New UI"));
        QCOMPARE(summary(parser.firmware),
                 QStringLiteral("Low|fw.bin|1024|e3b0|ftp://h/fw.bin|Any|Firmware Version|zh|"
                                "11.0|Modem fix"));
        QCOMPARE(parser.ftpIp, QStringLiteral("10.0.0.1"));
        QCOMPARE(parser.ftpPort, QStringLiteral("21"));
        QCOMPARE(parser.ftpUserName, QStringLiteral("anon"));
        QCOMPARE(parser.ftpPassword, QStringLiteral("pw"));
    }

    void headerPositions_data()
    {
        QTest::addColumn<QByteArray>("children");
        QTest::addColumn<QStringList>("fields");
        const QString u = kUnset;
        QTest::newRow("in order") << QByteArray("<Version>1</Version><Description>2</Description>"
                                                "<Device>3</Device><ClientGroup>4</ClientGroup>"
                                                "<ClientID>5</ClientID><Version>6</Version>")
                                  << QStringList{"1", "2", "3", "4", "5"};
        QTest::newRow("swapped") << QByteArray("<Description>2</Description><Version>1</Version>"
                                               "<Device>3</Device>")
                                 << QStringList{u, u, "3", u, u};
        QTest::newRow("comment first")
            << QByteArray("<!--c--><Version>1</Version>"
                          "<Description>2</Description>"
                          "<Device>3</Device><ClientGroup>4</ClientGroup>"
                          "<ClientID>5</ClientID>")
            << QStringList{u, u, u, u, u};
        QTest::newRow("text between") << QByteArray("<Version>1</Version>x<Description>2"
                                                    "</Description><Device>3</Device>")
                                      << QStringList{"1", u, u, u, u};
        QTest::newRow("case differs") << QByteArray("<version>1</version><Description>2"
                                                    "</Description><DEVICE>3</DEVICE>")
                                      << QStringList{u, "2", u, u, u};
        QTest::newRow("empty elements")
            << QByteArray("<Version/><Description></Description>") << QStringList{"", "", u, u, u};
    }

    void headerPositions()
    {
        QFETCH(QByteArray, children);
        QFETCH(QStringList, fields);
        XmlParser parser;
        parser.version = parser.description = parser.device = kUnset;
        parser.clientGroup = parser.clientId = kUnset;
        QVERIFY(load(parser, "<r><Head>" + children + "</Head></r>"));
        const QStringList found{parser.version, parser.description, parser.device,
                                parser.clientGroup, parser.clientId};
        QCOMPARE(found, fields);
    }

    void packages_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("software");
        QTest::addColumn<QString>("firmware");
        const QString none = QStringLiteral("|||||||||");
        const QString sw = QStringLiteral("|sw.zip|2048|abc|http://h/sw.zip||Software Version|||T");
        const QString fw = QStringLiteral("|fw.bin|2048|abc|http://h/fw.bin||Firmware Version|||T");
        QTest::newRow("firmware only") << package("Firmware Version", "fw.bin") << 1 << none << fw;
        QTest::newRow("firmware first")
            << package("Firmware Version", "fw.bin") + package("Software Version", "sw.zip") << 2
            << sw << fw;
        QTest::newRow("two software")
            << QByteArray("<P Class=\"Software Version\" Filename=\"old.zip\" MD5=\"m\" "
                          "Language=\"en\">old</P>") +
                   package("Software Version", "sw.zip")
            << 2 << sw << none;
        QTest::newRow("third ignored")
            << package("Firmware Version", "fw.bin") + package("Bogus", "x") +
                   package("Software Version", "sw.zip")
            << 1 << none << fw;
        QTest::newRow("class case")
            << package("software version", "sw.zip") + package("Firmware version", "fw.bin") << 0
            << none << none;
        QTest::newRow("comment first") << "<!--c-->" + package("Software Version", "sw.zip") +
                                              package("Firmware Version", "fw.bin")
                                       << 1 << sw << none;
        QTest::newRow("no attributes") << QByteArray("<P Class=\"Firmware Version\"/>") << 1 << none
                                       << QStringLiteral("||||||Firmware Version|||");
        QTest::newRow("any element name")
            << QByteArray("<x:Pkg Class=\"Firmware Version\" Filename=\"fw.bin\">A<i>B<u>C</u>"
                          "</i><!--no-->D<![CDATA[<E>]]></x:Pkg>")
            << 1 << none << QStringLiteral("|fw.bin|||||Firmware Version|||ABCD<E>");
    }

    void packages()
    {
        QFETCH(QByteArray, list);
        QFETCH(int, count);
        QFETCH(QString, software);
        QFETCH(QString, firmware);
        XmlParser parser;
        QVERIFY(load(parser, "<r>" + kHeader + "<L>" + list + "</L>" + kServer + "</r>"));
        QCOMPARE(parser.packageCount, count);
        QCOMPARE(summary(parser.software), software);
        QCOMPARE(summary(parser.firmware), firmware);
        QCOMPARE(parser.ftpIp, QStringLiteral("10.0.0.1"));
    }

    void unsafeFilenameIsDropped_data()
    {
        QTest::addColumn<QByteArray>("filename");
        QTest::addColumn<QString>("stored");
        QTest::newRow("plain") << QByteArray("fw 1.2.bin") << "fw 1.2.bin";
        QTest::newRow("dotted") << QByteArray("..fw") << "..fw";
        QTest::newRow("parent") << QByteArray("..") << "";
        QTest::newRow("climbs") << QByteArray("../../etc/cron.d/x") << "";
        QTest::newRow("absolute") << QByteArray("/etc/passwd") << "";
        QTest::newRow("subdirectory") << QByteArray("bak/fw.bin") << "";
        QTest::newRow("tab") << QByteArray("fw&#9;.bin") << "";
        QTest::newRow("pattern: unzip would open a1.zip") << QByteArray("a[1].zip") << "";
        QTest::newRow("wildcard") << QByteArray("fw*.bin") << "";
        QTest::newRow("escape") << QByteArray("fw\\?.bin") << "";
        QTest::newRow("non-character") << QByteArray("fw&#xFDD0;.bin") << "";
        QTest::newRow("astral non-character") << QByteArray("fw&#x1FFFF;.bin") << "";
        QTest::newRow("astral character") << QByteArray("fw&#x1F600;.bin") << "fw\U0001F600.bin";
    }

    void unsafeFilenameIsDropped()
    {
        QFETCH(QByteArray, filename);
        QFETCH(QString, stored);
        XmlParser parser;
        QVERIFY(load(parser, "<r>" + kHeader + "<L>" + package("Firmware Version", filename) +
                                 "</L>" + kServer + "</r>"));
        QCOMPARE(parser.firmware.filename, stored);
        QCOMPARE(parser.packageCount, 1);
        QCOMPARE(parser.firmware.packageClass, QStringLiteral("Firmware Version"));
        QCOMPARE(parser.firmware.size, QStringLiteral("2048"));
    }

    void surrogateFilenameIsDropped()
    {
        const QChar surrogate(0xD800);
        XmlParser parser;
        QVERIFY(load(parser, utf16Description(QStringLiteral("cm") + surrogate + ".zip")));
        QCOMPARE(parser.software.packageClass, QStringLiteral("Software Version"));
        QCOMPARE(parser.software.filename, QString());
        QVERIFY(load(parser, utf16Description(QStringLiteral("cm\u00e9\u4e2d.zip"))));
        QCOMPARE(parser.software.filename, QStringLiteral("cm\u00e9\u4e2d.zip"));
    }

    // The limits lie far above any real description; one step past them and
    // the description is refused whole, before the parse.
    void excessIsRefused_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("refused");
        const int levels = MaxDescriptionDepth - 3;
        QTest::newRow("nested to the limit") << nestedDescription(levels) << false;
        QTest::newRow("one level deeper") << nestedDescription(levels + 1) << true;
        QTest::newRow("at the size limit") << paddedDescription(MaxDescriptionBytes) << false;
        QTest::newRow("one byte larger") << paddedDescription(MaxDescriptionBytes + 1) << true;
        // Its default attributes land on every element they name: with enough
        // of both, minutes of parsing.
        QByteArray defaults = "<!DOCTYPE r [";
        for (int i = 0; i < 1000; ++i)
            defaults += "<!ATTLIST P a" + QByteArray::number(i) + " CDATA 'v'>";
        QTest::newRow("document type declaration")
            << defaults + "]>" + nestedDescription(0).replace("</L>", "<P/><P/></L>") << true;
        // Minutes of parsing without the check.
        QTest::newRow("as deep as it goes")
            << QByteArray("<a>").repeated(MaxDescriptionBytes / 3) << true;
    }

    void excessIsRefused()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, refused);
        if (refused)
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QStringLiteral("^Description.xml refused: ")));
        XmlParser parser;
        parser.flag = kUnset;
        QCOMPARE(load(parser, content), !refused);
        QCOMPARE(parser.flag, refused ? kUnset : QStringLiteral("5"));
        QCOMPARE(parser.packageCount, refused ? 0 : 1);
    }

    void serverPositions_data()
    {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("fifth child ignored")
            << QByteArray("<F><S><IP>a</IP><Port>b</Port><UserName>c</UserName>"
                          "<Password>d</Password><IP>e</IP></S></F>")
            << QStringList{"a", "b", "c", "d"};
        QTest::newRow("comment before server")
            << QByteArray("<F><!--c--><S><IP>a</IP></S></F>") << QStringList{"", "", "", ""};
    }

    void serverPositions()
    {
        QFETCH(QByteArray, block);
        QFETCH(QStringList, fields);
        XmlParser parser;
        QVERIFY(load(parser, "<r>" + kHeader + "<L/>" + block + "</r>"));
        const QStringList found{parser.ftpIp, parser.ftpPort, parser.ftpUserName,
                                parser.ftpPassword};
        QCOMPARE(found, fields);
    }
};

QTEST_GUILESS_MAIN(TestXmlParser)
#include "tst_xmlparser.moc"
