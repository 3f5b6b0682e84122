// The start-with-the-system entry that "Auto start with system" writes must be
// a desktop entry that the desktops accept: checked with desktop-file-validate
// for program paths that need quoting and escaping, and for the hidden entry
// that unchecking the option leaves behind.

#include "platform/user_store.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

using namespace tarnwick::platform;

namespace {

const QString kValueName = QStringLiteral("Orlvane_Tarnwick");

QString entryFile()
{
    return autostartFolder() + QLatin1Char('/') + kValueName + QStringLiteral(".desktop");
}

} // namespace

class TestAutostartEntry : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void validates_data();
    void validates();

private:
    QString m_validator;
};

void TestAutostartEntry::initTestCase()
{
    m_validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (m_validator.isEmpty()) {
        if (qgetenv("CI") == "true")
            QFAIL("desktop-file-validate is missing (package desktop-file-utils)");
        QSKIP("desktop-file-validate is missing (package desktop-file-utils)");
    }
}

void TestAutostartEntry::validates_data()
{
    // Values stored one after the other; the entry is validated after the last.
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<bool>("hidden");

    const QString plain = QStringLiteral("/home/user/.local/lib/tarnwick/tarnwick");
    QTest::newRow("plain path") << QStringList{plain} << false;
    QTest::newRow("space") << QStringList{QStringLiteral("/home/user/My Programs/tarnwick")}
                           << false;
    QTest::newRow("quote, dollar, backquote, backslash")
        << QStringList{QStringLiteral("/opt/a\"b$c`d\\e/tarnwick")} << false;
    QTest::newRow("percent") << QStringList{QStringLiteral("/opt/100%/tarnwick")} << false;
    QTest::newRow("leading space in a folder")
        << QStringList{QStringLiteral("/opt/ x/tarnwick")} << false;
    QTest::newRow("non-ASCII") << QStringList{QStringLiteral("/home/j\u00fcrgen/tarnwick")}
                               << false;
    QTest::newRow("unchecked after checked") << QStringList{plain, QString()} << true;
    QTest::newRow("unchecked, never checked") << QStringList{QString()} << true;
    QTest::newRow("checked again") << QStringList{plain, QString(), plain} << false;
}

void TestAutostartEntry::validates()
{
    QFETCH(QStringList, values);
    QFETCH(bool, hidden);

    QFile::remove(entryFile());
    for (const QString& value : values)
        QVERIFY(RegWriteString(RegistryRoot::CurrentUser, kRunKey, kValueName, value));

    QProcess validator;
    validator.setProcessChannelMode(QProcess::MergedChannels);
    validator.start(m_validator, {entryFile()});
    QVERIFY(validator.waitForFinished(10000));
    const QString said = QString::fromLocal8Bit(validator.readAll());
    QVERIFY2(validator.exitStatus() == QProcess::NormalExit && validator.exitCode() == 0,
             qPrintable(said));
    // Warnings and errors both mean a desktop may refuse or misread the entry.
    QVERIFY2(!said.contains(QStringLiteral("error:")) && !said.contains(QStringLiteral("warning:")),
             qPrintable(said));

    QString back;
    QVERIFY(RegReadString(RegistryRoot::CurrentUser, kRunKey, kValueName, back));
    QCOMPARE(back, hidden ? QString() : values.constLast());
}

QTEST_GUILESS_MAIN(TestAutostartEntry)
#include "tst_autostart_entry.moc"
