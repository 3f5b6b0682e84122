// The facts behind the echo permission notice, read from real files inside
// the rig's private mount namespace: a missing helper, a plain one, one with
// the capability (set by setcap, not by us), one on a nosuid mount, the
// group range both ways, and sudo there or not, for a sudoer or not.

#include "platform/net/echo_permission.h"
#include "rig/rig_support.h"

#include <QtTest>

#include <cerrno>
#include <fstream>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnwick::net;
using namespace tarnwick::rig;

namespace {

bool run(const std::vector<std::string>& argv)
{
    return runCommand(argv, 10000).exitCode == 0;
}

bool makeFile(const std::string& path)
{
    std::ofstream(path) << "#!/bin/sh\n";
    return ::chmod(path.c_str(), 0755) == 0;
}

} // namespace

class TestEchoPermissionRig : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void helperFiles();
    void groupRange();
    void sudo();

private:
    std::string m_plain;
    std::string m_nosuid;
};

void TestEchoPermissionRig::initTestCase()
{
    QVERIFY2(insideRig(), "run through tests/rig/rig.sh: it mounts file systems");
    m_plain = scratchDir() + "/permission-plain";
    m_nosuid = scratchDir() + "/permission-nosuid";
    QVERIFY(::mkdir(m_plain.c_str(), 0755) == 0 || errno == EEXIST);
    QVERIFY(::mkdir(m_nosuid.c_str(), 0755) == 0 || errno == EEXIST);
    QVERIFY(run({"mount", "-t", "tmpfs", "-o", "nosuid,mode=755", "tarnwick-nosuid", m_nosuid}));
}

void TestEchoPermissionRig::cleanupTestCase()
{
    run({"umount", m_nosuid});
}

void TestEchoPermissionRig::helperFiles()
{
    const std::string missing = m_plain + "/no-such-helper";
    EchoPermissionFacts f = gatherEchoPermissionFacts(missing);
    QVERIFY(!f.helperPresent);
    QVERIFY(!f.helperCapable);
    QVERIFY(!f.helperNosuid);
    QCOMPARE(diagnoseEchoPermission(f), EchoPermissionCase::HelperMissing);
    QVERIFY(gatherEchoPermissionFacts(m_nosuid + "/no-such-helper").helperNosuid);

    const std::string plain = m_plain + "/helper";
    QVERIFY(makeFile(plain));
    f = gatherEchoPermissionFacts(plain);
    QVERIFY(f.helperPresent);
    QVERIFY(!f.helperCapable);
    QVERIFY(!f.helperNosuid);
    QCOMPARE(diagnoseEchoPermission(f), EchoPermissionCase::NotGranted);

    if (!run({"setcap", "cap_net_raw+ep", plain}))
        QSKIP("setcap is missing or the scratch file system takes no capabilities");
    f = gatherEchoPermissionFacts(plain);
    QVERIFY(f.helperCapable);
    QCOMPARE(diagnoseEchoPermission(f), EchoPermissionCase::CapabilityIneffective);
    // Permitted only: the helper could not open its socket.
    QVERIFY(run({"setcap", "cap_net_raw+p", plain}));
    QVERIFY(!gatherEchoPermissionFacts(plain).helperCapable);
    QVERIFY(run({"setcap", "cap_net_raw,cap_net_admin+ep", plain}));
    QVERIFY(gatherEchoPermissionFacts(plain).helperCapable);
    QVERIFY(run({"setcap", "cap_net_admin+ep", plain}));
    QVERIFY(!gatherEchoPermissionFacts(plain).helperCapable);

    const std::string ignored = m_nosuid + "/helper";
    QVERIFY(makeFile(ignored));
    QVERIFY(run({"setcap", "cap_net_raw+ep", ignored}));
    f = gatherEchoPermissionFacts(ignored);
    QVERIFY(f.helperPresent);
    QVERIFY(f.helperCapable);
    QVERIFY(f.helperNosuid);
    QCOMPARE(diagnoseEchoPermission(f), EchoPermissionCase::CapabilityIgnored);
}

void TestEchoPermissionRig::groupRange()
{
    const std::string helper = m_plain + "/range-helper";
    QVERIFY(makeFile(helper));
    {
        PingGroupRange range("1 0");
        QVERIFY(range.ok());
        QVERIFY(!gatherEchoPermissionFacts(helper).groupRangeAllows);
    }
    {
        PingGroupRange range("0 2147483647");
        QVERIFY(range.ok());
        QVERIFY(gatherEchoPermissionFacts(helper).groupRangeAllows);
    }
    {
        // We run as root: group 0 only.
        PingGroupRange range("1 2147483647");
        QVERIFY(range.ok());
        QVERIFY(!gatherEchoPermissionFacts(helper).groupRangeAllows);
    }
}

void TestEchoPermissionRig::sudo()
{
    const std::string helper = m_plain + "/sudo-helper";
    QVERIFY(makeFile(helper));
    const group* sudoGroup = ::getgrnam("sudo");
    if (::access("/usr/bin/sudo", X_OK) != 0 || !sudoGroup)
        QSKIP("sudo is not installed here (package sudo)");
    const gid_t sudoGid = sudoGroup->gr_gid;
    std::vector<gid_t> saved(64);
    const int count = ::getgroups(int(saved.size()), saved.data());
    QVERIFY(count >= 0);
    saved.resize(std::size_t(count));

    QVERIFY(::setgroups(1, &sudoGid) == 0);
    EchoPermissionFacts f = gatherEchoPermissionFacts(helper);
    QVERIFY(f.sudoPresent);
    QVERIFY(f.sudoAllowed);
    QCOMPARE(f.setcapPath, std::string("/usr/sbin/setcap"));
    QCOMPARE(f.sysctlPath, std::string("/usr/sbin/sysctl"));
    QVERIFY(::setgroups(0, nullptr) == 0);
    QVERIFY(!gatherEchoPermissionFacts(helper).sudoAllowed);

    // Gone from the machine: a file that is no program in its place.
    const std::string notProgram = m_plain + "/not-a-program";
    std::ofstream(notProgram) << "";
    QVERIFY(run({"mount", "--bind", notProgram, "/usr/bin/sudo"}));
    f = gatherEchoPermissionFacts(helper);
    run({"umount", "/usr/bin/sudo"});
    QVERIFY(::setgroups(saved.size(), saved.data()) == 0);
    QVERIFY(!f.sudoPresent);
}

QTEST_GUILESS_MAIN(TestEchoPermissionRig)
#include "tst_echo_permission_rig.moc"
