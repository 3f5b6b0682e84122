// The top-level error handler: errors escaping any handler are shown with the
// full-stop rule and the program carries on.

#include "app/application.h"

#include "core/app_error.h"

#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace tarnwick;
using tarnwick::app::TApplication;

class TestApplication : public QObject {
    Q_OBJECT
private slots:
    void fullStopRule_data();
    void fullStopRule();
    void errorsFromHandlersAreShownAndTheProgramGoesOn();
};

void TestApplication::fullStopRule_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << "Something failed" << "Something failed.";
    QTest::newRow("already a full stop") << "Done." << "Done.";
    QTest::newRow("closing parenthesis sorts below") << "List index out of bounds (3)"
                                                     << "List index out of bounds (3)";
    QTest::newRow("exclamation sorts below") << "Oops!" << "Oops!";
    QTest::newRow("hyphen sorts below") << "a -" << "a -";
    QTest::newRow("blank sorts below") << "trailing " << "trailing ";
    QTest::newRow("slash sorts above") << "path/" << "path/.";
    QTest::newRow("quote sorts below") << "Cannot create file \"x\"" << "Cannot create file \"x\"";
    QTest::newRow("letter after reason")
        << "Cannot create file \"/d/config.cfg\". Permission denied"
        << "Cannot create file \"/d/config.cfg\". Permission denied.";
    QTest::newRow("empty") << "" << "";
}

void TestApplication::fullStopRule()
{
    QFETCH(QString, message);
    QTEST(app::errorMessageText(message), "shown");
}

void TestApplication::errorsFromHandlersAreShownAndTheProgramGoesOn()
{
    auto* application = qobject_cast<TApplication*>(QCoreApplication::instance());
    QVERIFY(application);
    QStringList shown;
    application->setErrorPresenter([&](const QString& text) { shown << text; });

    QPushButton button;
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] {
        ++clicks;
        if (clicks == 1)
            throw ListIndexError(7);
        if (clicks == 2)
            throw FileCreateError(QStringLiteral("/x/data/domains.cfg"),
                                  QStringLiteral("No such file or directory"));
        throw std::runtime_error("plain failure");
    });
    QTest::mouseClick(&button, Qt::LeftButton);
    QTest::mouseClick(&button, Qt::LeftButton);
    QTimer::singleShot(0, &button, [&] { button.click(); });
    QTRY_COMPARE(shown.size(), 3);
    QCOMPARE(shown[0], QStringLiteral("List index out of bounds (7)"));
    QCOMPARE(shown[1], QStringLiteral(
                           "Cannot create file \"/x/data/domains.cfg\". No such file or directory."));
    QCOMPARE(shown[2], QStringLiteral("plain failure."));
    QCOMPARE(clicks, 3);
    QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("Tarnwick"));
}

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_application.moc"
