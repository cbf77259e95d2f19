#include "profile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

class ProfileTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void readsOrFallsBack_data();
    void readsOrFallsBack();
    void neverWritesPastTheBuffer_data();
    void neverWritesPastTheBuffer();

private:
    QString read(const char* section, const char* key, int size = 80,
                 const char* fallback = "DEFAULT") const;
    QTemporaryDir dir;
    QByteArray file;
};

void ProfileTest::initTestCase()
{
    file = dir.filePath("UpdateCfg.ini").toLocal8Bit();
    QFile ini(QString::fromLocal8Bit(file));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    // An overlong line is dropped whole: its tail is no line of its own.
    const QByteArray hiddenKey = "; " + QByteArray(197, '-') + "CM_NAME=evil\n";
    ini.write("; the connection manager's settings\n"
              "[UPDATE]\n" +
              hiddenKey + "LONG=" + QByteArray(194, 'v') +
              "\n"
              "CM_NAME=Kestrel Pro\n"
              "DEVICE = RX481 \n"
              "IMEI_ID=123456789012345678\n"
              "EMPTY=\n"
              "APP_PATH=/in/the/wrong/section\n"
              "LANGUAGE_TYPE=zh_CN\xe4\xb8\xad\n"
              "DeviceReady=1\n"
              "DeviceReady=0\n"
              "[Service]\n"
              "APP_PATH=/opt/Kestrel2\n");
}

QString ProfileTest::read(const char* section, const char* key, int size,
                          const char* fallback) const
{
    QByteArray buffer(size, '\x7f');
    read_profile_string(section, key, buffer.data(), size, fallback, file.constData());
    return QString::fromUtf8(buffer.constData());
}

void ProfileTest::readsOrFallsBack_data()
{
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("value with a blank, not the tail of a long comment")
        << QByteArray("UPDATE") << QByteArray("CM_NAME") << "Kestrel Pro";
    QTest::newRow("line of 199 bytes") << QByteArray("UPDATE") << QByteArray("LONG") << "DEFAULT";
    QTest::newRow("blanks around the value")
        << QByteArray("UPDATE") << QByteArray("DEVICE") << "RX481";
    QTest::newRow("non-ASCII bytes") << QByteArray("UPDATE") << QByteArray("LANGUAGE_TYPE")
                                     << QString::fromUtf8("zh_CN\xe4\xb8\xad");
    QTest::newRow("empty value") << QByteArray("UPDATE") << QByteArray("EMPTY") << "";
    QTest::newRow("first occurrence") << QByteArray("UPDATE") << QByteArray("DeviceReady") << "1";
    QTest::newRow("own section") << QByteArray("Service") << QByteArray("APP_PATH")
                                 << "/opt/Kestrel2";
    QTest::newRow("key of another section")
        << QByteArray("Service") << QByteArray("CM_NAME") << "DEFAULT";
    QTest::newRow("key case") << QByteArray("UPDATE") << QByteArray("cm_name") << "DEFAULT";
    QTest::newRow("section case") << QByteArray("update") << QByteArray("CM_NAME") << "DEFAULT";
    QTest::newRow("missing section")
        << QByteArray("AGENT") << QByteArray("SERVER_URL") << "DEFAULT";
}

void ProfileTest::readsOrFallsBack()
{
    QFETCH(QByteArray, section);
    QFETCH(QByteArray, key);
    QFETCH(QString, value);
    QCOMPARE(read(section.constData(), key.constData()), value);
}

void ProfileTest::neverWritesPastTheBuffer_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("value");
    QTest::newRow("cut to size - 1") << QByteArray("IMEI_ID") << 16 << "123456789012345";
    QTest::newRow("default cut too") << QByteArray("MISSING") << 4 << "DEF";
    QTest::newRow("room for the terminator only") << QByteArray("CM_NAME") << 1 << "";
}

void ProfileTest::neverWritesPastTheBuffer()
{
    QFETCH(QByteArray, key);
    QFETCH(int, size);
    QFETCH(QString, value);
    QByteArray guarded(size + 8, '\x7f');
    read_profile_string("UPDATE", key.constData(), guarded.data(), size, "DEFAULT",
                        file.constData());
    QCOMPARE(QString::fromUtf8(guarded.constData()), value);
    QCOMPARE(guarded.mid(size), QByteArray(8, '\x7f'));
}

QTEST_MAIN(ProfileTest)
#include "tst_profile.moc"
