// The settings file and host list file formats, without any window.

#include "ui/settings_files.h"

#include <QtTest>

using namespace tarnwick::ui;

class TestSettingsFiles : public QObject {
    Q_OBJECT
private slots:
    void lineSplitting_data();
    void lineSplitting();
    void settingsLines_data();
    void settingsLines();
    void writtenBytes();
};

void TestSettingsFiles::lineSplitting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("CR LF") << "a\r\nb\r\n" << QStringList{"a", "b"};
    QTest::newRow("lone LF") << "a\nb\n" << QStringList{"a", "b"};
    QTest::newRow("lone CR") << "a\rb\r" << QStringList{"a", "b"};
    QTest::newRow("mixed") << "a\r\nb\nc\rd" << QStringList{"a", "b", "c", "d"};
    QTest::newRow("last line without end") << "a\r\nb" << QStringList{"a", "b"};
    QTest::newRow("LF then CR is two ends") << "a\n\rb" << QStringList{"a", "", "b"};
    QTest::newRow("empty lines kept") << "a\r\n\r\nb\r\n" << QStringList{"a", "", "b"};
    QTest::newRow("only a line end") << "\r\n" << QStringList{""};
    QTest::newRow("empty file") << "" << QStringList{};
    QTest::newRow("nothing trimmed") << " host \r\n\thost2" << QStringList{" host ", "\thost2"};
}

void TestSettingsFiles::lineSplitting()
{
    QFETCH(QString, text);
    QTEST(splitLines(text), "lines");
}

void TestSettingsFiles::settingsLines_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("applied"); // delay,autostart,timeout,size with '-' for unset
    QTest::newRow("defaults") << QStringList{"1000", "-1", "2000", "32"} << "1000,1,2000,32";
    QTest::newRow("two lines") << QStringList{"1500", "0"} << "1500,0,-,-";
    QTest::newRow("first not a number") << QStringList{"fast", "0", "50", "1"} << "-,-,-,-";
    QTest::newRow("true lower case") << QStringList{"300", "true", "60"} << "300,1,60,-";
    QTest::newRow("FALSE upper case") << QStringList{"300", "FALSE", "60", "7"} << "300,0,60,7";
    QTest::newRow("2 is checked") << QStringList{"300", "2", "60", "7"} << "300,1,60,7";
    QTest::newRow("word on line 2 stops") << QStringList{"300", "yes", "60", "7"} << "300,-,-,-";
    QTest::newRow("bad time-out stops") << QStringList{"300", "0", "6o", "7"} << "300,0,-,-";
    QTest::newRow("bad size") << QStringList{"300", "0", "60", "x"} << "300,0,60,-";
    QTest::newRow("lines after the fourth ignored") << QStringList{"1", "0", "2", "3", "junk"} << "1,0,2,3";
    QTest::newRow("out of range read as written") << QStringList{"99999", "0", "-5", "0"} << "99999,0,-5,0";
    QTest::newRow("empty line 1") << QStringList{"", "0"} << "-,-,-,-";
    QTest::newRow("empty file") << QStringList{} << "-,-,-,-";
}

void TestSettingsFiles::settingsLines()
{
    QFETCH(QStringList, lines);
    const SettingsLines s = parseSettingsLines(lines);
    auto show = [](const std::optional<int>& v) { return v ? QString::number(*v) : QStringLiteral("-"); };
    const QString applied = QStringList{show(s.delay),
                                        s.autoStart ? QString::number(*s.autoStart ? 1 : 0) : "-",
                                        show(s.timeout), show(s.packetSize)}
                                .join(QLatin1Char(','));
    QTEST(applied, "applied");
}

void TestSettingsFiles::writtenBytes()
{
    QCOMPARE(encodeLines(formatSettingsLines(1000, true, 2000, 32)),
             QByteArray("1000\r\n-1\r\n2000\r\n32\r\n"));
    QCOMPARE(encodeLines(formatSettingsLines(5000, false, 50, 30000)),
             QByteArray("5000\r\n0\r\n50\r\n30000\r\n"));
    QCOMPARE(encodeLines({}), QByteArray());
    QCOMPARE(encodeLines({"a", "", "b"}), QByteArray("a\r\n\r\nb\r\n"));
}

QTEST_GUILESS_MAIN(TestSettingsFiles)
#include "tst_settings_files.moc"
