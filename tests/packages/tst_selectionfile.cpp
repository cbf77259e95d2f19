#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <linux/capability.h>
#include <memory>
#include <sys/syscall.h>
#include <unistd.h>

#include "packages/selectionfile.h"

namespace {

const QByteArray kSoftwareEntry = "<UpdateFile Filename=\"cm.zip\" Size=\"4096\" MD5=\"d41d\" "
                                  "URL=\"http://h/cm.zip\"></UpdateFile>";
const QByteArray kFirmwareEntry = "<UpdateFile Filename=\"fw.bin\" Size=\"1024\" MD5=\"e3b0\" "
                                  "URL=\"ftp://h/fw.bin\"></UpdateFile>";
const QByteArray kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><UpdateConfig><UpdateFiles>";
const QByteArray kTail = "</UpdateFiles><Ftp><Server><IP>10.0.0.1</IP><Port>21</Port>"
                         "<UserName>anon</UserName><Password>pw</Password></Server></Ftp>"
                         "</UpdateConfig>";

void fill(PackageInfo& package, const char* filename, const char* size, const char* md5,
          const char* url)
{
    package.filename = QString::fromUtf8(filename);
    package.size = QString::fromUtf8(size);
    package.md5 = QString::fromUtf8(md5);
    package.url = QString::fromUtf8(url);
    package.packageClass = QStringLiteral("not written");
    package.text = QStringLiteral("not written");
}

void fillDescription(XmlParser& description)
{
    fill(description.software, "cm.zip", "4096", "d41d", "http://h/cm.zip");
    fill(description.firmware, "fw.bin", "1024", "e3b0", "ftp://h/fw.bin");
    description.ftpIp = QStringLiteral("10.0.0.1");
    description.ftpPort = QStringLiteral("21");
    description.ftpUserName = QStringLiteral("anon");
    description.ftpPassword = QStringLiteral("pw");
    description.version = QStringLiteral("not written");
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeAll(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

// Root passes every permission check; while one of these lives, this thread
// is held to the mode bits as the updater is on a machine where it has not
// the rights it expects.
class ModeBitsApply final {
public:
    ModeBitsApply()
    {
        if (syscall(SYS_capget, &header, saved.data()) != 0)
            qFatal("capget failed");
        auto reduced = saved;
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        if (syscall(SYS_capset, &header, reduced.data()) != 0)
            qFatal("capset failed");
    }
    ~ModeBitsApply() { syscall(SYS_capset, &header, saved.data()); }
    ModeBitsApply(const ModeBitsApply&) = delete;
    ModeBitsApply& operator=(const ModeBitsApply&) = delete;

private:
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> saved{};
};

} // namespace

class TestSelectionFile final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString selectionPath() const { return dir->filePath(QStringLiteral("UserSelection.xml")); }
    QStringList entries() const
    {
        return QDir(dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }

    void exactBytes_data()
    {
        QTest::addColumn<int>("module");
        QTest::addColumn<QByteArray>("tag");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("firmware") << int(SELECTED_FIRMWARE) << QByteArray("FW")
                                  << kHead + kFirmwareEntry + kTail;
        QTest::newRow("software") << int(SELECTED_SOFTWARE) << QByteArray("SW")
                                  << kHead + kSoftwareEntry + kTail;
        QTest::newRow("both") << int(SELECTED_BOTH) << QByteArray("FS")
                              << kHead + kSoftwareEntry + kFirmwareEntry + kTail;
        QTest::newRow("none") << int(SELECTED_NONE) << QByteArray("FS")
                              << kHead + kSoftwareEntry + kFirmwareEntry + kTail;
        QTest::newRow("four") << 4 << QByteArray("FS")
                              << kHead + kSoftwareEntry + kFirmwareEntry + kTail;
    }

    void exactBytes()
    {
        QFETCH(int, module);
        QFETCH(QByteArray, tag);
        QFETCH(QByteArray, expected);
        XmlParser description;
        fillDescription(description);
        const auto selected = static_cast<SelectedModule>(module);
        QCOMPARE(
            composeSelection(description, selected, description.software, description.firmware),
            expected);
        QTest::ignoreMessage(QtWarningMsg, tag.constData());
        writeSelectionFile(dir->path(), description, selected);
        QCOMPARE(readAll(selectionPath()), expected);
        QCOMPARE(entries(), QStringList{QStringLiteral("UserSelection.xml")});
    }

    void emptyFields()
    {
        XmlParser description;
        QCOMPARE(composeSelection(description, SELECTED_FIRMWARE, description.software,
                                  description.firmware),
                 kHead + "<UpdateFile Filename=\"\" Size=\"\" MD5=\"\" URL=\"\"></UpdateFile>"
                         "</UpdateFiles><Ftp><Server><IP></IP><Port></Port><UserName></UserName>"
                         "<Password></Password></Server></Ftp></UpdateConfig>");
    }

    void markupIsEscaped()
    {
        XmlParser description;
        fill(description.software, "a&b.zip", " 4096 ", "\"q\"", "http://h/get?a=1&b=<2>");
        description.ftpIp = QStringLiteral("h&st");
        description.ftpUserName = QStringLiteral("Jürgen's");
        description.ftpPassword = QStringLiteral("<p&\"w>\t");
        const QByteArray written = composeSelection(description, SELECTED_SOFTWARE,
                                                    description.software, description.firmware);
        QCOMPARE(written,
                 kHead +
                     "<UpdateFile Filename=\"a&amp;b.zip\" Size=\" 4096 \" MD5=\"&quot;q&quot;\" "
                     "URL=\"http://h/get?a=1&amp;b=&lt;2&gt;\"></UpdateFile></UpdateFiles>"
                     "<Ftp><Server><IP>h&amp;st</IP><Port></Port>"
                     "<UserName>J\xc3\xbcrgen's</UserName>"
                     "<Password>&lt;p&amp;&quot;w&gt;\t</Password></Server></Ftp>"
                     "</UpdateConfig>");

        // What a reader of the file gets back is the value itself.
        QDomDocument document;
        QVERIFY(document.setContent(written, false));
        const QDomElement entry =
            document.documentElement().firstChildElement().firstChildElement();
        QCOMPARE(entry.attribute(QStringLiteral("URL")), description.software.url);
        QCOMPARE(entry.attribute(QStringLiteral("MD5")), description.software.md5);
        const QDomElement server =
            document.documentElement().lastChildElement().firstChildElement();
        QCOMPARE(server.firstChildElement(QStringLiteral("Password")).text(),
                 description.ftpPassword);
    }

    void replacesLongerFile()
    {
        writeAll(selectionPath(), QByteArray(4096, 'x') + '\n');
        XmlParser description;
        fillDescription(description);
        QTest::ignoreMessage(QtWarningMsg, "FW");
        writeSelectionFile(dir->path(), description, SELECTED_FIRMWARE);
        QCOMPARE(readAll(selectionPath()), kHead + kFirmwareEntry + kTail);
    }

    // A directory in the file's place cannot be replaced, even by root.
    void directoryInThePlaceIsKept()
    {
        XmlParser description;
        fillDescription(description);
        QVERIFY(QDir(dir->path()).mkpath(QStringLiteral("UserSelection.xml/kept")));
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        writeSelectionFile(dir->path(), description, SELECTED_BOTH);
        QVERIFY(QFileInfo::exists(selectionPath() + QStringLiteral("/kept")));
        QCOMPARE(entries(), QStringList{QStringLiteral("UserSelection.xml")});
    }

    // The agent downloads what the file names: a file the updater may write in
    // a directory it may not is rewritten in place, not left as it was.
    void readOnlyDirectory_data()
    {
        QTest::addColumn<bool>("earlierFile");
        QTest::newRow("earlier file rewritten") << true;
        QTest::newRow("no file created") << false;
    }

    void readOnlyDirectory()
    {
        QFETCH(bool, earlierFile);
        if (earlierFile)
            writeAll(selectionPath(), QByteArray(4096, 'x'));
        XmlParser description;
        fillDescription(description);
        const auto writable = QFile::permissions(dir->path());
        QVERIFY(QFile::setPermissions(dir->path(), QFile::ReadOwner | QFile::ExeOwner));
        if (earlierFile)
            QTest::ignoreMessage(QtWarningMsg, "FW");
        else
            QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        {
            ModeBitsApply asAnyUser;
            writeSelectionFile(dir->path(), description, SELECTED_FIRMWARE);
        }
        QVERIFY(QFile::setPermissions(dir->path(), writable));
        QCOMPARE(entries(),
                 earlierFile ? QStringList{QStringLiteral("UserSelection.xml")} : QStringList{});
        if (earlierFile)
            QCOMPARE(readAll(selectionPath()), kHead + kFirmwareEntry + kTail);
    }

    void installationPathNotADirectory()
    {
        XmlParser description;
        fillDescription(description);
        const QString notADirectory = dir->filePath(QStringLiteral("plain"));
        writeAll(notADirectory, "earlier");
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        writeSelectionFile(notADirectory, description, SELECTED_SOFTWARE);
        QCOMPARE(readAll(notADirectory), QByteArray("earlier"));
        QCOMPARE(entries(), QStringList{QStringLiteral("plain")});
    }
};

QTEST_GUILESS_MAIN(TestSelectionFile)
#include "tst_selectionfile.moc"
