#include "software/softwareoutcome.h"

#include <QTest>

using Kind = SoftwareOutcome::Kind;

Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(Reason)

// The end of a run follows the software step's value alone: these decisions
// are what the user, the next start and the history rely on.
class TestSoftwareOutcome : public QObject {
    Q_OBJECT

private slots:
    void eachOutcomeDecidesTheRunsEnd_data();
    void eachOutcomeDecidesTheRunsEnd();
};

void TestSoftwareOutcome::eachOutcomeDecidesTheRunsEnd_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<Reason>("reason");
    QTest::addColumn<bool>("intact");    // the manager's executable may be started
    QTest::addColumn<QString>("box");    // how the box text begins; empty for none
    QTest::addColumn<QString>("record"); // "outcome reason" in the history; empty for none
    QTest::addColumn<bool>("markerKept");
    QTest::addColumn<bool>("watched");
    // Restarted once the marker is gone, and when removing it failed.
    QTest::addColumn<bool>("restarted");
    QTest::addColumn<bool>("restartedAnyway");
    // The new version stays, with its private data (what updateSW answers).
    QTest::addColumn<bool>("kept");
    QTest::addColumn<bool>("complete");

    const QString restored = "The software update failed and the previous version was restored.";
    const QString notYet = "The software update failed and some files";
    const QString dataLater = "The software was updated, but your contacts";
    QTest::newRow("software not chosen") << Kind::NotRun << Reason::None << true << ""
                                         << "" << false << false << true << false << false << false;
    QTest::newRow("installed") << Kind::Installed << Reason::None << true << ""
                               << "installed " << false << false << true << false << true << true;
    QTest::newRow("installed, executable broken")
        << Kind::Installed << Reason::None << false << ""
        << "installed " << false << false << false << false << true << true;
    QTest::newRow("installed, private data later")
        << Kind::Installed << Reason::PrivateDataPending << true << dataLater
        << "installed private-data-pending" << false << false << true << false << true << false;
    QTest::newRow("watched") << Kind::InstalledWatched << Reason::None << true << ""
                             << "installed " << false << true << true << false << true << true;
    QTest::newRow("watched, private data later")
        << Kind::InstalledWatched << Reason::PrivateDataPending << true << dataLater
        << "installed private-data-pending" << false << true << true << false << true << false;
    QTest::newRow("copy failed") << Kind::RolledBack << Reason::CopyFailed << true << restored
                                 << "rolled-back copy-failed" << false << false << true << false
                                 << false << false;
    QTest::newRow("did not start")
        << Kind::RolledBack << Reason::DidNotStart << true
        << "The new version of the connection manager did not start."
        << "rolled-back did-not-start" << false << false << true << false << false << false;
    QTest::newRow("restore incomplete")
        << Kind::RestoreIncomplete << Reason::RestoreIncomplete << true << notYet
        << "failed restore-incomplete" << true << false << true << true << false << false;
    QTest::newRow("restore incomplete, executable broken")
        << Kind::RestoreIncomplete << Reason::RestoreIncomplete << false << notYet
        << "failed restore-incomplete" << true << false << false << false << false << false;
    QTest::newRow("an earlier restore pending")
        << Kind::RestoreIncomplete << Reason::RestorePending << true << notYet
        << "failed restore-pending" << true << false << true << true << false << false;
    QTest::newRow("package refused")
        << Kind::Refused << Reason::PackageRefused << true << restored << "refused package-refused"
        << false << false << true << false << false << false;
    QTest::newRow("invalid package")
        << Kind::Refused << Reason::InvalidPackage << true << restored << "refused invalid-package"
        << false << false << true << false << false << false;
    QTest::newRow("backup failed")
        << Kind::Failed << Reason::BackupFailed << true << restored << "failed backup-failed"
        << false << false << true << false << false << false;
}

void TestSoftwareOutcome::eachOutcomeDecidesTheRunsEnd()
{
    QFETCH(Kind, kind);
    QFETCH(Reason, reason);
    QFETCH(bool, intact);
    QFETCH(QString, box);
    QFETCH(QString, record);
    const SoftwareOutcome outcome{kind, reason, intact};

    const char* text = outcome.boxText();
    QCOMPARE(text == nullptr, box.isEmpty());
    if (text != nullptr)
        QVERIFY2(QString(text).startsWith(box), text);
    const std::optional<Result> result = outcome.recorded();
    QCOMPARE(result ? QString(word(*result)) + ' ' + word(outcome.reason) : QString(), record);
    QTEST(outcome.keepsMarker(), "markerKept");
    QTEST(outcome.watchDue(), "watched");
    QTEST(outcome.restartsManager(true), "restarted");
    QTEST(outcome.restartsManager(false), "restartedAnyway");
    QTEST(outcome.installed(), "kept");
    QTEST(outcome.complete(), "complete");
}

QTEST_GUILESS_MAIN(TestSoftwareOutcome)
#include "tst_softwareoutcome.moc"
