#include "app/cleanprocess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

// What the caller's environment may say to a root updater: each variable is
// kept only where it names what the caller may use, and dropped otherwise.
class EnvironmentTest final : public QObject {
    Q_OBJECT

private slots:
    void keepsOnlyWhatTheCallerMayUse_data();
    void keepsOnlyWhatTheCallerMayUse();

private:
    // The value for a placeholder: a file or terminal made as it says.
    QByteArray made(const QByteArray& value);
    QByteArray terminal(uid_t owner, gid_t group);

    QTemporaryDir dir;
    QList<int> terminals;
};

QByteArray EnvironmentTest::terminal(uid_t owner, gid_t group)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return "/nonexistent";
    terminals << master;
    const QByteArray name = ::ptsname(master);
    return ::chown(name.constData(), owner, group) == 0 ? name : QByteArray("/nonexistent");
}

QByteArray EnvironmentTest::made(const QByteArray& value)
{
    const QByteArray own = QFile::encodeName(dir.filePath("own"));
    const QByteArray other = QFile::encodeName(dir.filePath("other"));
    const QByteArray link = QFile::encodeName(dir.filePath("link"));
    if (value == "@own file" || value == "@link to own file" || value == "@other's file") {
        QFile file(QFile::decodeName(own));
        if (!file.open(QIODevice::WriteOnly) || file.write("cookie") != 6)
            return {};
        file.close();
        QFile::copy(QFile::decodeName(own), QFile::decodeName(other));
        if (::chown(other.constData(), 65534, 65534) != 0 ||
            (!QFile::exists(QFile::decodeName(link)) &&
             ::symlink(own.constData(), link.constData()) != 0))
            return {};
        return value == "@own file" ? own : value == "@other's file" ? other : link;
    }
    const group* dialout = ::getgrnam("dialout");
    if (value == "@own terminal")
        return terminal(::getuid(), ::getgid());
    if (value == "@other's terminal")
        return terminal(65534, 5);
    if (value == "@serial port")
        return dialout != nullptr ? terminal(65534, dialout->gr_gid) : QByteArray("/nonexistent");
    if (value == "@link to own terminal") {
        const QByteArray target = terminal(::getuid(), ::getgid());
        const QByteArray path = QFile::encodeName(dir.filePath("modem"));
        ::unlink(path.constData());
        return ::symlink(target.constData(), path.constData()) == 0 ? path : QByteArray();
    }
    return value;
}

void EnvironmentTest::keepsOnlyWhatTheCallerMayUse_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("kept");

    QTest::newRow("local display") << QByteArray("DISPLAY") << QByteArray(":0") << true;
    QTest::newRow("local screen") << QByteArray("DISPLAY") << QByteArray(":10.1") << true;
    QTest::newRow("display on a host")
        << QByteArray("DISPLAY") << QByteArray("127.0.0.1:7") << false;
    QTest::newRow("display by protocol") << QByteArray("DISPLAY") << QByteArray("unix:0") << false;
    QTest::newRow("display half a screen") << QByteArray("DISPLAY") << QByteArray(":0.") << false;
    QTest::newRow("own authority") << QByteArray("XAUTHORITY") << QByteArray("@own file") << true;
    QTest::newRow("authority through a link")
        << QByteArray("XAUTHORITY") << QByteArray("@link to own file") << false;
    QTest::newRow("another user's authority")
        << QByteArray("XAUTHORITY") << QByteArray("@other's file") << false;
    QTest::newRow("authority a device")
        << QByteArray("XAUTHORITY") << QByteArray("/dev/zero") << false;
    QTest::newRow("plugin offscreen")
        << QByteArray("QT_QPA_PLATFORM") << QByteArray("offscreen") << true;
    QTest::newRow("plugin xcb") << QByteArray("QT_QPA_PLATFORM") << QByteArray("xcb") << true;
    QTest::newRow("plugin vnc") << QByteArray("QT_QPA_PLATFORM") << QByteArray("vnc") << false;
    QTest::newRow("plugin with options")
        << QByteArray("QT_QPA_PLATFORM") << QByteArray("xcb:foo=1") << false;
    QTest::newRow("own terminal") << QByteArray("BKSERIAL_DEVICE") << QByteArray("@own terminal")
                                  << true;
    QTest::newRow("own terminal through a link")
        << QByteArray("BKSERIAL_DEVICE") << QByteArray("@link to own terminal") << true;
    QTest::newRow("serial port") << QByteArray("BKSERIAL_DEVICE") << QByteArray("@serial port")
                                 << true;
    QTest::newRow("another user's terminal")
        << QByteArray("BKSERIAL_DEVICE") << QByteArray("@other's terminal") << false;
    QTest::newRow("not a terminal")
        << QByteArray("BKSERIAL_DEVICE") << QByteArray("/dev/null") << false;
}

void EnvironmentTest::keepsOnlyWhatTheCallerMayUse()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, value);
    QFETCH(bool, kept);
    if (::getuid() != 0)
        QSKIP("giving a file or a terminal to another user needs root");
    const QByteArray given = made(value);
    QVERIFY(!given.isEmpty() && given != "/nonexistent");
    QVERIFY(::setenv(name.constData(), given.constData(), 1) == 0);

    cleanProcess();

    const char* result = std::getenv(name.constData());
    QCOMPARE(result != nullptr, kept);
    if (!kept)
        return;
    if (name == "XAUTHORITY") { // the updater's own copy, with the caller's bytes
        QFile copy(QFile::decodeName(result));
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), QByteArray("cookie"));
    } else if (name == "BKSERIAL_DEVICE") { // the device itself, no link between
        char* resolved = ::realpath(given.constData(), nullptr);
        QCOMPARE(QByteArray(result), QByteArray(resolved));
        std::free(resolved);
    } else {
        QCOMPARE(QByteArray(result), given);
    }
}

QTEST_GUILESS_MAIN(EnvironmentTest)
#include "tst_environment.moc"
