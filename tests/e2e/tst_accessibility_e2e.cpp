#include "sandbox.h"
#include "updatesource.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

// A whole update driven through the desktop's accessibility bus alone: a
// private X server, and inside the sandbox a session bus, the AT-SPI bus and
// registry, the installed updater and a driver that finds the controls by
// their accessible names and presses keys, as a screen reader user would.
// The sandbox's own process namespace ends every process it started.
class AccessibilityEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void updatesByNamesAndKeysAlone();

private:
    QProcess xserver;
    QString display;
};

void AccessibilityEndToEndTest::initTestCase()
{
    xserver.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    QVERIFY(xserver.waitForStarted());
    while (!xserver.canReadLine() && xserver.waitForReadyRead(10000)) {
    }
    display = ':' + QString::fromLatin1(xserver.readLine()).trimmed();
    QVERIFY2(display.size() > 1, "Xvfb names no display");
}

void AccessibilityEndToEndTest::cleanupTestCase()
{
    xserver.terminate();
    QVERIFY(xserver.waitForFinished(10000));
}

void AccessibilityEndToEndTest::updatesByNamesAndKeysAlone()
{
    Sandbox sandbox;
    UpdateSource source(sandbox.scratch("source"));
    source.addSoftware("sw.zip", {{"Kestrel", "#!/bin/sh\nexit 0\n"}, {"a.txt", "new a\n"}});
    source.publish();
    sandbox.writeFile(sandbox.path("a.txt"), "old a\n");
    QVERIFY(QFile::copy("/bin/sleep", sandbox.path("Kestrel")));
    sandbox.writeSettings(source.url());
    sandbox.setEnv("DISPLAY", display);
    sandbox.setEnv("QT_QPA_PLATFORM", "xcb");
    // Only the session bus's address reaches the updater: its clean start
    // drops the runtime directory.
    const Sandbox::Result run = sandbox.run(
        "export XDG_RUNTIME_DIR=/run/user/0 && mkdir -p -m 700 $XDG_RUNTIME_DIR\n"
        "export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus\n"
        "dbus-daemon --session --nofork --address=$DBUS_SESSION_BUS_ADDRESS &\n"
        "until [ -S $XDG_RUNTIME_DIR/bus ]; do sleep 0.05; done\n"
        "/usr/libexec/at-spi-bus-launcher --launch-immediately &\n"
        "a11y='--session --print-reply --dest=org.a11y.Bus /org/a11y/bus'\n"
        "until dbus-send $a11y org.a11y.Bus.GetAddress >/dev/null 2>&1; do sleep 0.05; done\n"
        "dbus-send $a11y org.freedesktop.DBus.Properties.Set string:org.a11y.Status "
        "string:IsEnabled variant:boolean:true >/dev/null\n"
        "touch /dev/ttyUSB1 && ./Kestrel 600 &\n"
        "/usr/bin/python3 '" ATSPI_DRIVER "' 30 > told.json & driver=$!\n"
        "until [ -e listening ]; do sleep 0.05; done\n"
        "./cmupdater & updater=$!\n"
        // No window manager: the newest window of the updater gets the focus,
        // as a desktop gives it to a window that opens.
        "while kill -0 $updater 2>/dev/null; do\n"
        "  w=$(xdotool search --onlyvisible --name '^(Updater|Warning)$' | tail -n 1)\n"
        "  [ -n \"$w\" ] && xdotool windowfocus $w; sleep 0.2\n"
        "done &\n"
        "wait $driver; echo $? > driver.rc\n"
        "[ \"$(cat driver.rc)\" = 0 ] || kill $updater\n"
        "wait $updater; echo $? > updater.rc\n"
        "kill $(jobs -p) 2>/dev/null\n",
        90000);
    QVERIFY2(run.finished, run.err + sandbox.readFile(sandbox.path("told.json")));
    const QByteArray told = sandbox.readFile(sandbox.path("told.json"));
    const QByteArray driver = sandbox.readFile(sandbox.path("driver.rc")).trimmed();
    if (driver != "0") // what the bus showed, whole: a failure's message is cut short
        qWarning().noquote() << run.err << told;
    QCOMPARE(driver, QByteArray("0"));
    QCOMPARE(sandbox.readFile(sandbox.path("updater.rc")).trimmed(), QByteArray("0"));
    QCOMPARE(sandbox.readFile(sandbox.path("a.txt")), QByteArray("new a\n"));

    // Each page took the focus, in the order of its step; the question box
    // told its question; every status line was told once, the end of the
    // update last; the bar told its text.
    const QJsonObject report = QJsonDocument::fromJson(told).object();
    QStringList pages, lines, progress, alerts;
    int listed = 0;        // lines in the list when its last change was read
    bool listGone = false; // the window had closed when that change was read
    for (const QJsonValue value : report["told"].toArray()) {
        const QJsonObject event = value.toObject();
        const QString page = event["page"].toString(), text = event["text"].toString(),
                      role = event["role"].toString();
        if (event["event"].toString().endsWith("focused") && page.startsWith("Step ") &&
            !pages.contains(page))
            pages << page;
        else if (event["event"].toString().endsWith("description"))
            (role == "list" ? lines : role == "progress bar" ? progress : alerts) << text;
        // A list already gone when its last change is read counts -1 lines:
        // that change still added one.
        if (role == "list") {
            listGone = event["lines"].toInt() < 0;
            listed = listGone ? listed + 1 : event["lines"].toInt();
        }
    }
    QVERIFY2(pages.size() == 3, qPrintable(pages.join('|')));
    for (int step = 0; step < pages.size(); ++step)
        QVERIFY2(pages[step].startsWith(QString("Step %1 of 3").arg(step + 1)),
                 qPrintable(pages[step]));
    const QString question = report["found"].toObject()["question"].toString();
    QVERIFY2(!question.isEmpty() && alerts.contains(question), qPrintable(alerts.join('|')));
    QVERIFY(!lines.isEmpty());
    // Each line told once, the end last: the window lingers for a reader.
    QCOMPARE(lines.size(), listed);
    QVERIFY2(lines.last().contains("end"), qPrintable(lines.join('|')));
    progress.removeAll(QString()); // read once the updater had ended
    QVERIFY2(!progress.isEmpty() && progress.filter("%").size() == progress.size(),
             qPrintable(progress.join('|')));
}

QTEST_GUILESS_MAIN(AccessibilityEndToEndTest)
#include "tst_accessibility_e2e.moc"
