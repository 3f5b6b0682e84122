// The number box: a one-line edit paired with our up-down control.

#include "ui/up_down.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

using tarnwick::ui::TUpDown;

class TestUpDown : public QObject {
    Q_OBJECT
private slots:
    void typedText_data();
    void typedText();
    void arrowsStepAndHoldTheRange();
    void everyMouseReleaseIsReported();
};

void TestUpDown::typedText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("position");
    QTest::newRow("within the range") << "1500" << 1500;
    QTest::newRow("at the low end") << "200" << 200;
    QTest::newRow("below the range") << "150" << 1000;
    QTest::newRow("above the range") << "5001" << 1000;
    QTest::newRow("not a number") << "12a" << 1000;
    QTest::newRow("empty") << "" << 1000;
    QTest::newRow("negative") << "-300" << 1000;
}

void TestUpDown::typedText()
{
    QFETCH(QString, text);
    QLineEdit edit;
    TUpDown upDown;
    upDown.setRange(200, 5000);
    upDown.setIncrement(100);
    upDown.setPosition(1000);
    upDown.setAssociate(&edit);
    QCOMPARE(edit.text(), QStringLiteral("1000"));
    edit.setText(text);
    // Whatever was typed stays in the edit.
    QCOMPARE(edit.text(), text);
    QTEST(upDown.position(), "position");
}

void TestUpDown::arrowsStepAndHoldTheRange()
{
    QLineEdit edit;
    TUpDown upDown;
    upDown.setRange(50, 10000);
    upDown.setIncrement(500);
    upDown.setPosition(2000);
    upDown.setAssociate(&edit);
    upDown.resize(16, 22);
    QTest::mouseClick(&upDown, Qt::LeftButton, {}, QPoint(8, 3));
    QCOMPARE(upDown.position(), 2500);
    QCOMPARE(edit.text(), QStringLiteral("2500"));
    QTest::mouseClick(&upDown, Qt::LeftButton, {}, QPoint(8, 19));
    QTest::mouseClick(&upDown, Qt::LeftButton, {}, QPoint(8, 19));
    QCOMPARE(upDown.position(), 1500);
    for (int i = 0; i < 5; ++i)
        upDown.step(-1);
    QCOMPARE(upDown.position(), 50);
    QCOMPARE(edit.text(), QStringLiteral("50"));
    upDown.setPosition(9800);
    upDown.step(1);
    QCOMPARE(upDown.position(), 10000);
    // The arrow keys in the edit step too.
    QTest::keyClick(&edit, Qt::Key_Down);
    QCOMPARE(upDown.position(), 9500);
    // A step starts from the last valid position, not from invalid text.
    edit.setText(QStringLiteral("abc"));
    QTest::keyClick(&edit, Qt::Key_Up);
    QCOMPARE(edit.text(), QStringLiteral("10000"));
    // Values set from outside are held to the range and shown.
    upDown.setPosition(99999);
    QCOMPARE(edit.text(), QStringLiteral("10000"));
    upDown.setPosition(-4);
    QCOMPARE(edit.text(), QStringLiteral("50"));
}

void TestUpDown::everyMouseReleaseIsReported()
{
    TUpDown upDown;
    upDown.setRange(1, 30000);
    upDown.setPosition(32);
    upDown.resize(16, 22);
    QSignalSpy released(&upDown, &TUpDown::mouseReleased);
    QTest::mouseClick(&upDown, Qt::RightButton, {}, QPoint(8, 3));
    QTest::mouseClick(&upDown, Qt::MiddleButton, {}, QPoint(8, 19));
    QTest::mouseClick(&upDown, Qt::LeftButton, {}, QPoint(8, 3));
    QCOMPARE(released.count(), 3);
    QCOMPARE(released.at(0).at(0).value<Qt::MouseButton>(), Qt::RightButton);
    QCOMPARE(upDown.position(), 33); // only the left button steps
}

QTEST_MAIN(TestUpDown)
#include "tst_up_down.moc"
