#include "app/startup.h"
#include "firmware/statustexts.h"
#include "session/updatesession.h"
#include "wizard/cmupdater.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

// The dialog in the language the settings name, from the installation's
// translations directory.
class TranslationTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void showsTheConfiguredLanguage_data();
    void showsTheConfiguredLanguage();
    void keepsEnglishWithoutATranslation_data();
    void keepsEnglishWithoutATranslation();
    void translatesEveryFirmwareStatus();

private:
    QString nextText() const;
    QTemporaryDir installation;
};

void TranslationTest::initTestCase()
{
    QVERIFY(QDir().mkpath(installation.filePath("translations")));
    for (const char* language : {"de_DE", "zh_CN"}) {
        const QString name = QString("cmupdater_%1.qm").arg(language);
        QVERIFY2(QFile::copy(QString(QM_DIR) + '/' + name,
                             installation.filePath("translations/" + name)),
                 qPrintable(name));
    }
}

void TranslationTest::cleanup()
{
    for (QTranslator* translator : QCoreApplication::instance()->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

QString TranslationTest::nextText() const
{
    UpdateSession session(Installation::at(installation.path()));
    const CMUpdater dialog(session);
    return dialog.findChild<QPushButton*>("noticeNext")->text();
}

void TranslationTest::showsTheConfiguredLanguage_data()
{
    QTest::addColumn<QByteArray>("language");
    QTest::addColumn<QString>("next");
    QTest::addColumn<QString>("backup");
    QTest::addColumn<QString>("rolledBack");
    QTest::newRow("German") << QByteArray("de_DE") << "Weiter"
                            << "Ihre privaten Daten sichern?"
                            << "Die Software-Aktualisierung ist fehlgeschlagen; die vorherige "
                               "Version wurde wiederhergestellt.";
    QTest::newRow("Chinese") << QByteArray("zh_CN") << "下一步"
                             << "是否备份您的私人数据？"
                             << "软件更新失败，已恢复到之前的版本。";
}

void TranslationTest::showsTheConfiguredLanguage()
{
    QFETCH(QByteArray, language);
    QFETCH(QString, next);
    QFETCH(QString, backup);
    QFETCH(QString, rolledBack);
    QVERIFY(installTranslation(installation.path(), language));
    QCOMPARE(nextText(), next);
    QCOMPARE(CMUpdater::tr("Backup your private data?"), backup);
    QCOMPARE(CMUpdater::tr("The software update failed and the previous version was restored."),
             rolledBack);
    const char* flashFailed =
        "The modem firmware was not updated. Keep the modem plugged in and run the update again.";
    QVERIFY(CMUpdater::tr(flashFailed) != QLatin1String(flashFailed));
    QMessageBox box(QMessageBox::Question, "", "", QMessageBox::Yes | QMessageBox::No);
    QVERIFY(box.button(QMessageBox::No)->text() != QString("&No"));
}

void TranslationTest::keepsEnglishWithoutATranslation_data()
{
    QTest::addColumn<QByteArray>("language");
    QTest::newRow("English") << QByteArray("en_US");
    QTest::newRow("not shipped") << QByteArray("fr_FR");
    QTest::newRow("a path") << QByteArray("../../de_DE");
    QTest::newRow("empty") << QByteArray();
}

void TranslationTest::keepsEnglishWithoutATranslation()
{
    QFETCH(QByteArray, language);
    QVERIFY(!installTranslation(installation.path(), language));
    QCOMPARE(nextText(), QString("Next"));
}

void TranslationTest::translatesEveryFirmwareStatus()
{
    for (const char* language : {"de_DE", "zh_CN"}) {
        QVERIFY(installTranslation(installation.path(), language));
        for (int code = 0; code <= 30; ++code) {
            const char* text = firmwareStatusText(code);
            QVERIFY2(CMUpdater::tr(text) != QLatin1String(text),
                     qPrintable(QString("%1 %2").arg(language, text)));
        }
        cleanup();
    }
}

QTEST_MAIN(TranslationTest)
#include "tst_translation.moc"
