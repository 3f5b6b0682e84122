// Why echo requests are refused and what the notice tells the user, on
// made-up facts; and the two parsers the facts come from.

#include "platform/net/echo_permission.h"

#include <QtTest>

#include <vector>

using namespace tarnwick::net;

Q_DECLARE_METATYPE(tarnwick::net::EchoPermissionCase)

namespace {

const std::string kHelper = "/home/ann/.local/lib/tarnwick/tarnwick-icmp-helper";

// present, capable, nosuid, range: the four facts as letters (P C N G), '-' when false.
EchoPermissionFacts facts(const char* letters)
{
    EchoPermissionFacts f;
    f.helperPresent = letters[0] == 'P';
    f.helperCapable = letters[1] == 'C';
    f.helperNosuid = letters[2] == 'N';
    f.groupRangeAllows = letters[3] == 'G';
    return f;
}

QString notice(const char* letters)
{
    return QString::fromStdString(echoPermissionNotice(facts(letters), kHelper));
}

// A security.capability value: revision, flags, permitted words.
QByteArray capability(int revision, bool effective, std::uint32_t permitted, int size = -1)
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
        le32(0); // root id
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
        << "P---"
        << QStringList{QStringLiteral("sudo setcap cap_net_raw+ep \"%1\"").arg(helper), sysctl}
        << QStringList{QStringLiteral("nosuid"), QStringLiteral("missing")};
    QTest::newRow("nothing granted, range allows")
        << "P--G" << QStringList{QStringLiteral("setcap cap_net_raw+ep")} << QStringList{sysctl};
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
