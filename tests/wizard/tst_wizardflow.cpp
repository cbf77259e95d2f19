#include "dialogfixture.h"

#include "delta/deltamaker.h"
#include "delta/packagetree.h"
#include "packages/xmlparser.h"
#include "session/updatesession.h"
#include "wizard/cmupdater.h"
#include "wizard/messagebox.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QtTest>

namespace {

const QByteArray software = "Software Version";
const QByteArray firmware = "Firmware Version";
const QString backupQuestion = "Backup your private data?";
const QString selectFirst = "Please select first!";

} // namespace

// Drives the wizard from the notice page through its buttons.
class WizardFlowTest : public QObject {
    Q_OBJECT

private slots:
    void placesOnePackageInRowZero_data();
    void placesOnePackageInRowZero();
    void placesTwoPackagesSoftwareFirst();
    void showsSizesInKilobytes_data();
    void showsSizesInKilobytes();
    void showsTheSelectedPackageText_data();
    void showsTheSelectedPackageText();
    void worksOutTheChoice_data();
    void worksOutTheChoice();
    void keepsTheEarlierChoiceForARowWithoutFile_data();
    void keepsTheEarlierChoiceForARowWithoutFile();
    void backThenNextClearsTheTicks();
    void cancelEndsWithZeroAndWritesNothing_data();
    void cancelEndsWithZeroAndWritesNothing();
    void updateStartsTheDownloadOnTheUpdatePage();
    void showsTheNoticeAsTheFileHasIt();
    void emptyVersionEndsWithZero();
    void downloadsTheDeltaForTheKeptBase_data();
    void downloadsTheDeltaForTheKeptBase();

private:
    static void load(DialogFixture& fixture, const QByteArray& packages,
                     const QByteArray& header = newVersionHeader());
    static QTableWidget* table(DialogFixture& fixture);
    static QString currentPage(DialogFixture& fixture);
    static void click(DialogFixture& fixture, const char* button);
    static void tick(DialogFixture& fixture, int row);
};

void WizardFlowTest::load(DialogFixture& fixture, const QByteArray& packages,
                          const QByteArray& header)
{
    fixture.writeFile("Description.xml", description(header, packages));
    fixture.onAgentThread([&] { fixture.dialog().HaveNewVersion(); });
    QVERIFY(fixture.dialog().isVisible());
    click(fixture, "noticeNext");
}

QTableWidget* WizardFlowTest::table(DialogFixture& fixture)
{
    return fixture.dialog().findChild<QTableWidget*>("selectTable");
}

QString WizardFlowTest::currentPage(DialogFixture& fixture)
{
    return fixture.dialog()
        .findChild<QStackedWidget*>("centerStack")
        ->currentWidget()
        ->objectName();
}

void WizardFlowTest::click(DialogFixture& fixture, const char* button)
{
    auto* widget = fixture.dialog().findChild<QPushButton*>(button);
    QVERIFY2(widget, button);
    QTest::mouseClick(widget, Qt::LeftButton);
}

void WizardFlowTest::tick(DialogFixture& fixture, int row)
{
    table(fixture)->item(row, 0)->setCheckState(Qt::Checked);
}

void WizardFlowTest::placesOnePackageInRowZero_data()
{
    QTest::addColumn<QByteArray>("packageClass");
    QTest::addColumn<QString>("kind");
    QTest::newRow("software") << software << "Software Update Package";
    QTest::newRow("firmware") << firmware << "Firmware Update Package";
}

void WizardFlowTest::placesOnePackageInRowZero()
{
    QFETCH(QByteArray, packageClass);
    QFETCH(QString, kind);
    DialogFixture fixture;
    load(fixture, package(packageClass, "one.zip"));
    QCOMPARE(currentPage(fixture), QString("selectWStackPage"));
    QCOMPARE(table(fixture)->rowCount(), 1);
    QCOMPARE(table(fixture)->item(0, 1)->text(), kind);
    QCOMPARE(table(fixture)->item(0, 2)->text(), QString("9.1"));
    QCOMPARE(table(fixture)->item(0, 4)->text(), QString("1"));
    QCOMPARE(table(fixture)->item(0, 0)->checkState(), Qt::Unchecked);
    QCOMPARE(fixture.dialog().findChild<QLabel*>("descriptionselect")->text(),
             QString("Better modem support"));
}

void WizardFlowTest::placesTwoPackagesSoftwareFirst()
{
    DialogFixture fixture;
    load(fixture, package(firmware, "fw.zip") + package(software, "sw.zip"));
    QCOMPARE(table(fixture)->rowCount(), 2);
    QCOMPARE(table(fixture)->item(0, 1)->text(), QString("Software Update Package"));
    QCOMPARE(table(fixture)->item(1, 1)->text(), QString("Firmware Update Package"));
}

void WizardFlowTest::showsSizesInKilobytes_data()
{
    QTest::addColumn<QByteArray>("size");
    QTest::addColumn<QString>("shown");
    QTest::newRow("two kilobytes") << QByteArray("2048") << "2";
    // A package with any bytes is never listed as empty.
    QTest::newRow("just under one") << QByteArray("1023") << "1";
    QTest::newRow("a small delta") << QByteArray("348") << "1";
    QTest::newRow("just over two") << QByteArray("2049") << "3";
    QTest::newRow("no number") << QByteArray("big") << "0";
    QTest::newRow("negative") << QByteArray("-2048") << "-2";
    QTest::newRow("negative, truncated toward zero") << QByteArray("-1500") << "-1";
    QTest::newRow("beyond 32 bits") << QByteArray("5368709120") << "5242880";
}

void WizardFlowTest::showsSizesInKilobytes()
{
    QFETCH(QByteArray, size);
    QFETCH(QString, shown);
    DialogFixture fixture;
    load(fixture, package(software, "sw.zip", size));
    QCOMPARE(table(fixture)->item(0, 3)->text(), shown);
}

void WizardFlowTest::showsTheSelectedPackageText_data()
{
    QTest::addColumn<QByteArray>("packages");
    QTest::addColumn<QList<int>>("selected"); // rows in turn; -1 clears the selection
    QTest::addColumn<QString>("shown");
    const QByteArray alone = package(firmware, "fw.zip", "1", "faster radio");
    const QByteArray both = package(software, "sw.zip", "1", "new dialer") + alone;
    QTest::newRow("firmware row") << both << QList<int>{1} << "faster radio";
    QTest::newRow("software row") << both << QList<int>{1, 0} << "new dialer";
    QTest::newRow("cleared") << both << QList<int>{1, 0, -1} << "Better modem support";
    QTest::newRow("firmware alone") << alone << QList<int>{0} << "faster radio";
}

void WizardFlowTest::showsTheSelectedPackageText()
{
    QFETCH(QByteArray, packages);
    QFETCH(QList<int>, selected);
    QFETCH(QString, shown);
    DialogFixture fixture;
    load(fixture, packages);
    for (int row : selected) {
        if (row < 0)
            table(fixture)->clearSelection();
        else
            table(fixture)->selectRow(row);
    }
    QCOMPARE(fixture.dialog().findChild<QLabel*>("descriptionselect")->text(), shown);
}

void WizardFlowTest::worksOutTheChoice_data()
{
    QTest::addColumn<QByteArray>("packages");
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<int>("module");
    QTest::addColumn<QString>("box"); // the last box asked, empty for none
    const QByteArray both = package(software, "sw.zip") + package(firmware, "fw.zip");
    QTest::newRow("both") << both << QList<int>{0, 1} << int(SELECTED_BOTH) << backupQuestion;
    QTest::newRow("software row") << both << QList<int>{0} << int(SELECTED_SOFTWARE)
                                  << backupQuestion;
    QTest::newRow("firmware row") << both << QList<int>{1} << int(SELECTED_FIRMWARE) << "";
    QTest::newRow("firmware alone")
        << package(firmware, "fw.zip") << QList<int>{0} << int(SELECTED_FIRMWARE) << "";
    QTest::newRow("software without file, firmware row 0")
        << package(software, "") + package(firmware, "fw.zip") << QList<int>{0}
        << int(SELECTED_FIRMWARE) << "";
    // A file name the parser refused: the agent would refuse a selection naming it.
    QTest::newRow("both ticked, software name unsafe")
        << package(software, "../sw.zip") + package(firmware, "fw.zip") << QList<int>{0, 1}
        << int(SELECTED_FIRMWARE) << "";
    QTest::newRow("both ticked, firmware name unsafe")
        << package(software, "sw.zip") + package(firmware, "a/fw.zip") << QList<int>{0, 1}
        << int(SELECTED_SOFTWARE) << backupQuestion;
    QTest::newRow("both ticked, neither name safe")
        << package(software, "..") + package(firmware, "") << QList<int>{0, 1} << int(SELECTED_NONE)
        << selectFirst;
    QTest::newRow("no rows") << QByteArray() << QList<int>{} << int(SELECTED_NONE) << selectFirst;
}

void WizardFlowTest::worksOutTheChoice()
{
    QFETCH(QByteArray, packages);
    QFETCH(QList<int>, ticked);
    QFETCH(int, module);
    QFETCH(QString, box);
    DialogFixture fixture;
    load(fixture, packages);
    for (int row : ticked)
        tick(fixture, row);
    if (!box.isEmpty())
        MessageBox::setNextAnswer(QMessageBox::Yes);
    click(fixture, "selectUpdate");
    QCOMPARE(int(fixture.session().selectedModule), module);
    QCOMPARE(fixture.session().backupPrivateData, box == backupQuestion);
    QCOMPARE(MessageBox::takeLastText(), box);
    QFile selection(fixture.path("UserSelection.xml"));
    QCOMPARE(selection.exists(), module != SELECTED_NONE);
    QVERIFY(!selection.open(QIODevice::ReadOnly) || !selection.readAll().contains("Filename=\"\""));
}

void WizardFlowTest::keepsTheEarlierChoiceForARowWithoutFile_data()
{
    QTest::addColumn<int>("earlier");
    QTest::addColumn<bool>("goesOn");
    QTest::newRow("none") << int(SELECTED_NONE) << false;
    QTest::newRow("firmware") << int(SELECTED_FIRMWARE) << true;
    QTest::newRow("software") << int(SELECTED_SOFTWARE) << true;
}

void WizardFlowTest::keepsTheEarlierChoiceForARowWithoutFile()
{
    QFETCH(int, earlier);
    QFETCH(bool, goesOn);
    DialogFixture fixture;
    load(fixture, package(software, "") + package(firmware, ""));
    fixture.session().selectedModule = SelectedModule(earlier);
    tick(fixture, 1);
    if (earlier != SELECTED_FIRMWARE)
        MessageBox::setNextAnswer(QMessageBox::No);
    click(fixture, "selectUpdate");
    QCOMPARE(int(fixture.session().selectedModule), earlier);
    QCOMPARE(FakePlatform::instance().downloads, goesOn ? 1 : 0);
    QCOMPARE(currentPage(fixture), QString(goesOn ? "updateWStackPage" : "selectWStackPage"));
    if (!goesOn)
        QCOMPARE(MessageBox::takeLastText(), QString("Please select first!"));
}

void WizardFlowTest::backThenNextClearsTheTicks()
{
    DialogFixture fixture;
    load(fixture, package(software, "sw.zip") + package(firmware, "fw.zip"));
    tick(fixture, 0);
    tick(fixture, 1);
    click(fixture, "selectBack");
    QCOMPARE(currentPage(fixture), QString("noticeWStackPage"));
    click(fixture, "noticeNext");
    QCOMPARE(table(fixture)->item(0, 0)->checkState(), Qt::Unchecked);
    QCOMPARE(table(fixture)->item(1, 0)->checkState(), Qt::Unchecked);
    MessageBox::setNextAnswer(QMessageBox::Yes);
    click(fixture, "selectUpdate");
    QCOMPARE(MessageBox::takeLastText(), QString("Please select first!"));
    QCOMPARE(currentPage(fixture), QString("selectWStackPage"));
}

void WizardFlowTest::cancelEndsWithZeroAndWritesNothing_data()
{
    QTest::addColumn<bool>("onSelectPage");
    QTest::newRow("notice page") << false;
    QTest::newRow("select page") << true;
}

void WizardFlowTest::cancelEndsWithZeroAndWritesNothing()
{
    QFETCH(bool, onSelectPage);
    DialogFixture fixture;
    load(fixture, package(software, "sw.zip"));
    if (!onSelectPage)
        click(fixture, "selectBack");
    QTimer::singleShot(0, [&] { click(fixture, onSelectPage ? "selectCancel" : "noticeCancel"); });
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!fixture.dialog().isVisible());
    QVERIFY(!QFile::exists(fixture.path("UserSelection.xml")));
    QCOMPARE(FakePlatform::instance().downloads, 0);
    QVERIFY(!FakePlatform::instance().calls.contains("RefuseDownload"));
}

void WizardFlowTest::updateStartsTheDownloadOnTheUpdatePage()
{
    DialogFixture fixture;
    load(fixture, package(firmware, "fw.zip"));
    tick(fixture, 0);
    click(fixture, "selectUpdate");
    QCOMPARE(currentPage(fixture), QString("updateWStackPage"));
    QCOMPARE(FakePlatform::instance().downloads, 1);
    QVERIFY(QFile::exists(fixture.path("UserSelection.xml")));
    QVERIFY(!fixture.dialog().findChild<QPushButton*>("updateCancel")->isEnabled());
    QVERIFY(fixture.dialog().findChild<QLabel*>("downloadLabel")->font().bold());
}

void WizardFlowTest::showsTheNoticeAsTheFileHasIt()
{
    DialogFixture fixture;
    fixture.writeFile("Description.xml",
                      description(newVersionHeader("2.0 新版", "Überall schneller"),
                                  package(software, "sw.zip")));
    fixture.onAgentThread([&] { fixture.dialog().HaveNewVersion(); });
    QCOMPARE(currentPage(fixture), QString("noticeWStackPage"));
    QCOMPARE(fixture.dialog().findChild<QLabel*>("versionNoticeContent")->text(),
             QString("2.0 新版"));
    QCOMPARE(fixture.dialog().findChild<QLabel*>("descriptionNoticeContent")->text(),
             QString("Überall schneller"));
    QVERIFY(fixture.dialog().findChild<QPushButton*>("noticeNext")->isEnabled());
}

// The notice is still filled, then the event loop ends with 0.
void WizardFlowTest::emptyVersionEndsWithZero()
{
    DialogFixture fixture;
    fixture.writeFile("Description.xml", description(newVersionHeader("", "Better modem support"),
                                                     package(software, "sw.zip")));
    QTimer::singleShot(0,
                       [&] { fixture.onAgentThread([&] { fixture.dialog().HaveNewVersion(); }); });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); }); // a hang fails, not waits
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(currentPage(fixture), QString("noticeWStackPage"));
    QCOMPARE(fixture.dialog().findChild<QLabel*>("descriptionNoticeContent")->text(),
             QString("Better modem support"));
}

void WizardFlowTest::downloadsTheDeltaForTheKeptBase_data()
{
    QTest::addColumn<bool>("baseChanged"); // after the delta was chosen
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<int>("downloads");
    QTest::addColumn<QByteArray>("selectionNames"); // empty: the run ended, its files gone
    QTest::addColumn<QByteArray>("installed");      // a.txt afterwards, and the kept base's
    QTest::newRow("rebuilt") << false << false << 1 << QByteArray() << QByteArray("new a");
    QTest::newRow("base changed") << true << false << 2 << QByteArray("sw.zip") << QByteArray();
    QTest::newRow("damaged") << false << true << 1 << QByteArray() << QByteArray();
}

// The size column and the selection name the delta; after the download a
// delta that does not fit falls back to the full package, a damaged one is
// refused as a package would be.
void WizardFlowTest::downloadsTheDeltaForTheKeptBase()
{
    QFETCH(bool, baseChanged);
    QFETCH(bool, damaged);
    QFETCH(int, downloads);
    QFETCH(QByteArray, selectionNames);
    QFETCH(QByteArray, installed);
    LocalShell shell;
    DialogFixture fixture;
    QVERIFY(QDir().mkpath(fixture.path(".installed_package")) &&
            QDir().mkpath(fixture.path("new")));
    fixture.writeFile(".installed_package/a.txt", "old a");
    fixture.writeFile("new/a.txt", "new a");
    QString error;
    QByteArray delta = *makeDelta(fixture.path(".installed_package"), fixture.path("new"), error);
    const QByteArray offer =
        "<Delta Base=\"" + treeDigest(*listPackageTree(fixture.path(".installed_package"))) +
        "\" Filename=\"sw-from-old.delta\" Size=\"4096\" MD5=\"" + QByteArray(32, '0') +
        "\" SHA256=\"" + QCryptographicHash::hash(delta, QCryptographicHash::Sha256).toHex() +
        "\" Manifest=\"" + manifestDigest(delta) + "\" URL=\"u\"/></Package>";
    load(fixture, package(software, "sw.zip", "300000").replace("</Package>", offer));
    QCOMPARE(table(fixture)->item(0, 3)->text(), QString("4"));
    tick(fixture, 0);
    MessageBox::setNextAnswer(QMessageBox::No);
    click(fixture, "selectUpdate");
    QFile selection(fixture.path("UserSelection.xml"));
    QVERIFY(selection.open(QIODevice::ReadOnly));
    QVERIFY(selection.readAll().contains("Filename=\"sw-from-old.delta\" Size=\"4096\""));
    selection.close();

    if (baseChanged)
        fixture.writeFile(".installed_package/a.txt", "changed since");
    if (damaged)
        delta.append('!');
    fixture.writeFile("sw-from-old.delta", delta);
    fixture.onAgentThread([&] { fixture.dialog().DownloadFinished(true); });

    QCOMPARE(FakePlatform::instance().downloads, downloads);
    QCOMPARE(QFile::exists(fixture.path("sw-from-old.delta")), false);
    QCOMPARE(selection.open(QIODevice::ReadOnly), !selectionNames.isEmpty());
    QVERIFY(selectionNames.isEmpty() ||
            selection.readAll().contains("Filename=\"" + selectionNames + '"'));
    const QListWidget* lines = fixture.dialog().findChild<QListWidget*>("updateListbox");
    QCOMPARE(!lines->findItems("full package", Qt::MatchContains).isEmpty(), baseChanged);
    // Only a delta that rebuilt is installed, and its tree is the next base.
    const auto content = [&fixture](const QString& name) {
        QFile file(fixture.path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QCOMPARE(content("a.txt"), installed);
    if (!installed.isEmpty())
        QCOMPARE(content(".installed_package/a.txt"), installed);
}

QTEST_MAIN(WizardFlowTest)
#include "tst_wizardflow.moc"
