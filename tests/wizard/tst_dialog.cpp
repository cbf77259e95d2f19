#include "dialogfixture.h"

#include "app/startup.h"
#include "wizard/cmupdater.h"

#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QtTest>

class DialogTest : public QObject {
    Q_OBJECT

private slots:
    void isFixedAtItsSize();
    void stacksThePagesInOrder();
    void showsTheTextsUntranslated_data();
    void showsTheTextsUntranslated();
    void buildsTheEmptyPackageTable();
    void placesTheWidgets_data();
    void placesTheWidgets();
    void hidesTheUpdatePageCancel();
    void connectsToTheAgentInOrder();
    void sendsTheClientRecordWithTheCheck();
    void cutsIdentityValuesToTheirField();
    void isASingleton();
};

void DialogTest::isFixedAtItsSize()
{
    DialogFixture fixture;
    QCOMPARE(fixture.dialog().size(), QSize(430, 345));
    QCOMPARE(fixture.dialog().minimumSize(), QSize(430, 345));
    QCOMPARE(fixture.dialog().maximumSize(), QSize(430, 345));
    QVERIFY(fixture.dialog().isModal());
    QVERIFY(!fixture.dialog().isVisible());
}

void DialogTest::stacksThePagesInOrder()
{
    DialogFixture fixture;
    auto* stack = fixture.dialog().findChild<QStackedWidget*>("centerStack");
    QVERIFY(stack);
    QCOMPARE(stack->geometry(), QRect(0, 0, 430, 345));
    const QStringList pages = {"noticeWStackPage", "selectWStackPage", "updateWStackPage",
                               "checkWStackPage"};
    QCOMPARE(stack->count(), pages.size());
    for (int id = 0; id < pages.size(); ++id)
        QCOMPARE(stack->widget(id)->objectName(), pages[id]);
    QCOMPARE(stack->currentWidget()->objectName(), QString("checkWStackPage"));
}

void DialogTest::showsTheTextsUntranslated_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("next") << "noticeNext"
                          << "Next";
    QTest::newRow("update") << "selectUpdate"
                            << "Update";
    QTest::newRow("back") << "selectBack"
                          << "Back";
    QTest::newRow("notice cancel") << "noticeCancel"
                                   << "Cancel";
    QTest::newRow("select cancel") << "selectCancel"
                                   << "Cancel";
    QTest::newRow("update cancel") << "updateCancel"
                                   << "Cancel";
    QTest::newRow("description") << "descriptionNotice"
                                 << "Description:";
    QTest::newRow("version") << "versionNotice"
                             << "Version:";
    QTest::newRow("notice") << "notice"
                            << "new version";
    QTest::newRow("check") << "checkInfo"
                           << "Check update...";
    QTest::newRow("step 1") << "downloadLabel"
                            << "1.Download packages";
    QTest::newRow("step 2") << "updateFWLabel"
                            << "2.Update firmware";
    QTest::newRow("step 3") << "updateSWLabel"
                            << "3.Update software";
    QTest::newRow("step 4") << "updateEndLabel"
                            << "4.Update end";
}

void DialogTest::showsTheTextsUntranslated()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    DialogFixture fixture;
    QWidget* widget = fixture.dialog().findChild<QWidget*>(name);
    QVERIFY2(widget, qPrintable(name));
    if (auto* button = qobject_cast<QPushButton*>(widget))
        QCOMPARE(button->text(), text);
    else
        QCOMPARE(qobject_cast<QLabel*>(widget)->text(), text);
    QCOMPARE(fixture.dialog().windowTitle(), QString("Updater"));
}

void DialogTest::buildsTheEmptyPackageTable()
{
    DialogFixture fixture;
    auto* table = fixture.dialog().findChild<QTableWidget*>("selectTable");
    QVERIFY(table);
    QCOMPARE(table->geometry(), QRect(10, 10, 410, 150));
    QCOMPARE(table->rowCount(), 6);
    QCOMPARE(table->columnCount(), 5);
    QVERIFY(table->verticalHeader()->isHidden());
    const QStringList labels = {"", "Kind", "Version", "Size(KB)", "Priority"};
    const int widths[] = {15, 190, 60, 85, 60};
    for (int column = 0; column < 5; ++column) {
        QCOMPARE(table->horizontalHeaderItem(column)->text(), labels[column]);
        QCOMPARE(table->columnWidth(column), widths[column]);
    }
    QCOMPARE(table->horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
    QCOMPARE(table->selectionMode(), QAbstractItemView::SingleSelection);
    QVERIFY(table->focusPolicy() & Qt::TabFocus); // a keyboard reaches the packages
    for (int row = 0; row < 6; ++row)
        QVERIFY(table->item(row, 0) == nullptr);
}

void DialogTest::placesTheWidgets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("notice frame") << "noticeFrame" << QRect(10, 10, 410, 220);
    QTest::newRow("notice content") << "descriptionNoticeContent" << QRect(10, 100, 390, 21);
    QTest::newRow("version content") << "versionNoticeContent" << QRect(90, 40, 100, 21);
    QTest::newRow("next") << "noticeNext" << QRect(175, 290, 80, 30);
    QTest::newRow("select frame") << "selectFrame" << QRect(10, 170, 410, 100);
    QTest::newRow("package text") << "descriptionselect" << QRect(10, 20, 390, 40);
    QTest::newRow("back") << "selectBack" << QRect(55, 290, 80, 30);
    QTest::newRow("list") << "updateListbox" << QRect(200, 10, 220, 200);
    QTest::newRow("bar") << "updateProgressBar" << QRect(10, 240, 410, 25);
    QTest::newRow("end step") << "updateEndLabel" << QRect(10, 200, 160, 21);
    QTest::newRow("check frame") << "checkFrame" << QRect(10, 10, 410, 220);
}

void DialogTest::placesTheWidgets()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    DialogFixture fixture;
    QWidget* widget = fixture.dialog().findChild<QWidget*>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(widget->geometry(), geometry);
}

void DialogTest::hidesTheUpdatePageCancel()
{
    DialogFixture fixture;
    auto* cancel = fixture.dialog().findChild<QPushButton*>("updateCancel");
    QVERIFY(cancel->isHidden());
    auto* bar = fixture.dialog().findChild<QProgressBar*>("updateProgressBar");
    QCOMPARE(bar->maximum(), 100);
}

void DialogTest::connectsToTheAgentInOrder()
{
    DialogFixture fixture;
    const QStringList expected = {"GetUpdateAgentInterface", "RegisterCMUpdaterInterface",
                                  "GetUpdateAgentInterface", "SetFilePath", "Init"};
    QCOMPARE(FakePlatform::instance().calls, expected);
    QCOMPARE(FakePlatform::instance().configPath, fixture.path("UpdateCfg.ini"));
    QVERIFY(FakePlatform::instance().callbacks != nullptr);
}

void DialogTest::sendsTheClientRecordWithTheCheck()
{
    DialogFixture fixture("IMEI_ID=123456789012345\n");
    fixture.dialog().getDesc();
    QCOMPARE(FakePlatform::instance().calls.last(), QString("Update 1"));
    QCOMPARE(QByteArray(FakePlatform::instance().client.imei), QByteArray("123456789012345"));
}

void DialogTest::cutsIdentityValuesToTheirField()
{
    _CLIENT_INFO client;
    const QByteArray longDevice(79, 'd');
    _CLIENT_INFO::copyField(client.device, longDevice.constData());
    _CLIENT_INFO::copyField(client.softwareVersion, "1.0");
    QCOMPARE(QByteArray(client.device), longDevice.left(63));
    QCOMPARE(client.device[63], '\0');
    QCOMPARE(QByteArray(client.softwareVersion), QByteArray("1.0"));
    const _CLIENT_INFO copy = client;
    QCOMPARE(QByteArray(copy.device), longDevice.left(63));
    QCOMPARE(QByteArray(copy.softwareVersion), QByteArray("1.0"));
    QCOMPARE(QByteArray(copy.reserved), QByteArray());
}

void DialogTest::isASingleton()
{
    QCOMPARE(CMUpdater::getUpdater(), nullptr);
    {
        DialogFixture fixture;
        CMUpdater* first = CMUpdater::getUpdater();
        QCOMPARE(first, &fixture.dialog());
        QCOMPARE(first->objectName(), QString("CMUpdater"));
        QVERIFY(first->windowFlags().testFlag(Qt::CustomizeWindowHint));
    }
    QCOMPARE(CMUpdater::getUpdater(), nullptr);
}

QTEST_MAIN(DialogTest)
#include "tst_dialog.moc"
