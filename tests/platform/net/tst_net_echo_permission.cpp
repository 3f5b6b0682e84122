// Why echo requests are refused and what the notice tells the user, on
// made-up facts (sudo or not, a sudoer or not, nosuid, the helper missing);
// the parsers the facts come from and the quoting of the commands it gives.

#include "platform/net/echo_permission.h"

#include <QtTest>

#include <vector>

using namespace tarnwick::net;

Q_DECLARE_METATYPE(tarnwick::net::EchoPermissionCase)

namespace {

const std::string kHelper = "/home/ann/.local/lib/tarnwick/tarnwick-icmp-helper";

// present, capable, nosuid, range, sudo installed, sudoer: the facts as
// letters (P C N G S A), '-' when false; the sudo pair may be left out.
EchoPermissionFacts facts(const char* letters)
{
    EchoPermissionFacts f;
    const std::string l = std::string(letters) + "------";
    f.helperPresent = l[0] == 'P';
    f.helperCapable = l[1] == 'C';
    f.helperNosuid = l[2] == 'N';
    f.groupRangeAllows = l[3] == 'G';
    f.sudoPresent = l[4] == 'S';
    f.sudoAllowed = l[5] == 'A';
    return f;
}

QString notice(const char* letters, const std::string& helper = kHelper)
{
    return QString::fromStdString(echoPermissionNotice(facts(letters), helper));
}

// A security.capability value: revision, flags, permitted words.
QByteArray capability(int revision, bool effective, std::uint32_t permitted, int size = -1,
                      std::uint32_t rootId = 0)
{
    QByteArray v;
    auto le32 = [&v](std::uint32_t x) {
        for (int i = 0; i < 4; ++i)
            v.append(static_cast<char>((x >> (8 * i)) & 0xff));
    };
    le32(static_cast<std::uint32_t>(revision) << 24 | (effective ? 1u : 0u));
    le32(permitted);
    le32(0); // inheritable
    if (revision >= 2) {
        le32(0);
        le32(0);
    }
    if (revision == 3)
        le32(rootId);
    if (size >= 0)
        v.resize(size);
    return v;
}

} // namespace

class TestNetEchoPermission : public QObject {
    Q_OBJECT

private slots:
    void diagnosis_data();
    void diagnosis();
    void noticeTellsCasesApart_data();
    void noticeTellsCasesApart();
    void shellQuoting_data();
    void shellQuoting();
    void capabilityValues_data();
    void capabilityValues();
    void groupRange_data();
    void groupRange();
};

void TestNetEchoPermission::diagnosis_data()
{
    QTest::addColumn<QString>("facts");
    QTest::addColumn<EchoPermissionCase>("expected");
    // A missing helper outranks everything: no file to grant anything to.
    QTest::newRow("missing") << "----" << EchoPermissionCase::HelperMissing;
    QTest::newRow("missing, folder nosuid") << "--N-" << EchoPermissionCase::HelperMissing;
    QTest::newRow("missing, range allows") << "---G" << EchoPermissionCase::HelperMissing;
    QTest::newRow("nosuid, capability set") << "PCN-" << EchoPermissionCase::CapabilityIgnored;
    QTest::newRow("nosuid, no capability") << "P-N-" << EchoPermissionCase::CapabilityIgnored;
    QTest::newRow("capability without effect")
        << "PC--" << EchoPermissionCase::CapabilityIneffective;
    QTest::newRow("nothing granted") << "P---" << EchoPermissionCase::NotGranted;
    QTest::newRow("nothing granted, range allows") << "P--G" << EchoPermissionCase::NotGranted;
}

void TestNetEchoPermission::diagnosis()
{
    QFETCH(QString, facts);
    QFETCH(EchoPermissionCase, expected);
    QCOMPARE(diagnoseEchoPermission(::facts(qPrintable(facts))), expected);
}

void TestNetEchoPermission::noticeTellsCasesApart_data()
{
    QTest::addColumn<QString>("facts");
    QTest::addColumn<QStringList>("says");      // each must appear
    QTest::addColumn<QStringList>("neverSays"); // none may appear
    const QString setcap = QStringLiteral("setcap");
    const QString sysctl = QStringLiteral("ping_group_range");
    const QString helper = QString::fromStdString(kHelper);
    QTest::newRow("missing") << "----"
                             << QStringList{QStringLiteral("missing"),
                                            QStringLiteral("make install"), helper, sysctl}
                             << QStringList{setcap, QStringLiteral("nosuid")};
    QTest::newRow("missing, range allows")
        << "---G" << QStringList{QStringLiteral("missing")} << QStringList{setcap, sysctl};
    QTest::newRow("nosuid, capability set")
        << "PCN-"
        << QStringList{QStringLiteral("nosuid"), QStringLiteral("ignores file capabilities"),
                       QStringLiteral("carries cap_net_raw"), QStringLiteral("make install"),
                       sysctl}
        << QStringList{QStringLiteral("setcap cap_net_raw"), QStringLiteral("missing")};
    QTest::newRow("nosuid, no capability")
        << "P-N-" << QStringList{QStringLiteral("nosuid"), QStringLiteral("make install")}
        << QStringList{QStringLiteral("setcap cap_net_raw"), QStringLiteral("carries")};
    QTest::newRow("nosuid, range allows")
        << "PCNG" << QStringList{QStringLiteral("nosuid")} << QStringList{sysctl};
    QTest::newRow("capability without effect")
        << "PC--" << QStringList{QStringLiteral("does not take effect"), sysctl}
        << QStringList{QStringLiteral("setcap cap_net_raw"), QStringLiteral("nosuid")};
    QTest::newRow("nothing granted")
        << "P---" << QStringList{QStringLiteral("setcap cap_net_raw+ep %1").arg(helper), sysctl}
        << QStringList{QStringLiteral("nosuid"), QStringLiteral("missing")};
    QTest::newRow("nothing granted, range allows")
        << "P--G" << QStringList{QStringLiteral("setcap cap_net_raw+ep")} << QStringList{sysctl};
    // How the commands are put: through sudo only where it is installed and
    // we may use it, otherwise to run as root, saying why.
    const QString setcapLine = QStringLiteral("/usr/sbin/setcap cap_net_raw+ep ") + helper;
    const QString sysctlLine =
        QStringLiteral("/usr/sbin/sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"");
    const QString noSudo = QStringLiteral("as root (sudo is not installed):");
    const QString notSudoer = QStringLiteral("as root (your account may not use sudo):");
    const QString viaSudo = QStringLiteral("    sudo /");
    QTest::newRow("not granted, sudoer")
        << "P---SA"
        << QStringList{QStringLiteral("run once:\n    sudo ") + setcapLine,
                       QStringLiteral("    sudo ") + sysctlLine, QStringLiteral("loses that right")}
        << QStringList{QStringLiteral("as root")};
    QTest::newRow("not granted, not a sudoer")
        << "P---S-"
        << QStringList{QStringLiteral("run once ") + notSudoer + "\n    " + setcapLine,
                       QStringLiteral("    ") + sysctlLine}
        << QStringList{viaSudo, noSudo};
    QTest::newRow("not granted, no sudo")
        << "P-----" << QStringList{QStringLiteral("run once ") + noSudo + "\n    " + setcapLine}
        << QStringList{viaSudo, notSudoer};
    QTest::newRow("in the sudo group, no sudo")
        << "P----A" << QStringList{noSudo} << QStringList{viaSudo};
    QTest::newRow("nosuid, sudoer")
        << "P-N-SA" << QStringList{QStringLiteral("    sudo ") + sysctlLine}
        << QStringList{QStringLiteral("setcap cap_net_raw"), QStringLiteral("as root")};
    QTest::newRow("nosuid, not a sudoer")
        << "PCN-S-" << QStringList{QStringLiteral("run ") + notSudoer + "\n    " + sysctlLine}
        << QStringList{viaSudo, QStringLiteral("setcap cap_net_raw")};
    QTest::newRow("nosuid, no sudo") << "P-N---" << QStringList{noSudo} << QStringList{viaSudo};
    QTest::newRow("helper missing, sudoer")
        << "----SA" << QStringList{QStringLiteral("    sudo ") + sysctlLine}
        << QStringList{QStringLiteral("setcap"), QStringLiteral("as root")};
    QTest::newRow("helper missing, no sudo")
        << "------" << QStringList{QStringLiteral("run ") + noSudo + "\n    " + sysctlLine}
        << QStringList{viaSudo, QStringLiteral("setcap")};
    QTest::newRow("helper missing, range allows")
        << "---GSA" << QStringList{QStringLiteral("make install")}
        << QStringList{QStringLiteral("sudo"), QStringLiteral("as root")};
    QTest::newRow("capability without effect, not a sudoer")
        << "PC--S-" << QStringList{QStringLiteral("run ") + notSudoer + "\n    " + sysctlLine}
        << QStringList{viaSudo};
}

void TestNetEchoPermission::noticeTellsCasesApart()
{
    QFETCH(QString, facts);
    QFETCH(QStringList, says);
    QFETCH(QStringList, neverSays);
    const QString text = notice(qPrintable(facts));
    for (const QString& s : says)
        QVERIFY2(text.contains(s), qPrintable(s + QStringLiteral(" missing from: ") + text));
    for (const QString& s : neverSays)
        QVERIFY2(!text.contains(s), qPrintable(s + QStringLiteral(" found in: ") + text));
    // What the log shows meanwhile, in every case: found hosts time out,
    // names that cannot be resolved are unreachable.
    QVERIFY(text.contains(QStringLiteral("\"Requested Timed out.\"")));
    QVERIFY(text.contains(QStringLiteral("\"Destination host unreachable.\"")));
    QVERIFY(!text.contains(QStringLiteral("every host"), Qt::CaseInsensitive));

    // The tools as found on the machine, and a helper path the shell must
    // not split or expand.
    EchoPermissionFacts f = ::facts(qPrintable(facts));
    f.setcapPath = "/sbin/setcap";
    f.sysctlPath = "/sbin/sysctl";
    const QString moved = QString::fromStdString(
        echoPermissionNotice(f, "/home/ann/My Tools/it's/tarnwick-icmp-helper"));
    QVERIFY(!moved.contains(QStringLiteral("/usr/sbin/")));
    if (f.helperPresent && !f.helperNosuid && !f.helperCapable) {
        QVERIFY2(
            moved.contains(QStringLiteral(
                "/sbin/setcap cap_net_raw+ep '/home/ann/My Tools/it'\\''s/tarnwick-icmp-helper'")),
            qPrintable(moved));
    }
}

void TestNetEchoPermission::shellQuoting_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("quoted");
    QTest::newRow("plain path") << "/home/ann/build/tarnwick-icmp-helper"
                                << "/home/ann/build/tarnwick-icmp-helper";
    QTest::newRow("blank") << "/a b"
                           << "'/a b'";
    QTest::newRow("dollar and backquote") << "/$HOME/`x`"
                                          << "'/$HOME/`x`'";
    QTest::newRow("single quote") << "/it's"
                                  << "'/it'\\''s'";
    QTest::newRow("glob") << "/a*b"
                          << "'/a*b'";
    QTest::newRow("empty") << ""
                           << "''";
}

void TestNetEchoPermission::shellQuoting()
{
    QFETCH(QString, word);
    QTEST(QString::fromStdString(shellQuoted(word.toStdString())), "quoted");
}

void TestNetEchoPermission::capabilityValues_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("grants");
    const std::uint32_t netRaw = 1u << 13;
    QTest::newRow("v2 +ep") << capability(2, true, netRaw) << true;
    QTest::newRow("v3 +ep") << capability(3, true, netRaw) << true;
    QTest::newRow("v1 +ep") << capability(1, true, netRaw) << true;
    QTest::newRow("v2 +ep among others") << capability(2, true, netRaw | 1u << 10 | 1u) << true;
    QTest::newRow("v2 +p only") << capability(2, false, netRaw) << false;
    QTest::newRow("v2 other rights") << capability(2, true, 1u << 12 | 1u << 14) << false;
    QTest::newRow("unknown revision") << capability(4, true, netRaw, 20) << false;
    // Set inside a user namespace whose root is not ours: ignored at exec.
    QTest::newRow("v3 of another namespace's root")
        << capability(3, true, netRaw, -1, 100000) << false;
    QTest::newRow("v3 cut short") << capability(3, true, netRaw, 20) << false;
    QTest::newRow("cut short") << capability(2, true, netRaw, 16) << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestNetEchoPermission::capabilityValues()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, grants);
    const auto* data = reinterpret_cast<const std::uint8_t*>(value.constData());
    QCOMPARE(fileCapabilitiesGrantNetRaw({data, std::size_t(value.size())}), grants);
}

void TestNetEchoPermission::groupRange_data()
{
    QTest::addColumn<QString>("range");
    QTest::addColumn<QList<int>>("groups");
    QTest::addColumn<bool>("allows");
    QTest::newRow("Debian's default lets no one") << "1\t0\n" << QList<int>{0, 1, 1000} << false;
    QTest::newRow("everyone") << "0\t2147483647\n" << QList<int>{1000} << true;
    QTest::newRow("one group, ours") << "1001 1001" << QList<int>{1000, 1001} << true;
    QTest::newRow("one group, not ours") << "1001 1001" << QList<int>{1000, 1002} << false;
    QTest::newRow("lower edge") << "100 200" << QList<int>{100} << true;
    QTest::newRow("upper edge") << "100 200" << QList<int>{200} << true;
    QTest::newRow("just outside") << "100 200" << QList<int>{99, 201} << false;
    QTest::newRow("unreadable") << "" << QList<int>{0} << false;
}

void TestNetEchoPermission::groupRange()
{
    QFETCH(QString, range);
    QFETCH(QList<int>, groups);
    QFETCH(bool, allows);
    std::vector<std::uint32_t> g;
    for (const int x : groups)
        g.push_back(static_cast<std::uint32_t>(x));
    QCOMPARE(pingGroupRangeAllows(range.toStdString(), g), allows);
}

QTEST_GUILESS_MAIN(TestNetEchoPermission)
#include "tst_net_echo_permission.moc"
