// The slot log box on its own: following the newest line, painting only when
// shown and at most once a frame, selection with mouse and keyboard, Ctrl+C,
// refused typing and the line a double click hits.

#include "support/form_fixture.h"
#include "ui/log_memo.h"
#include "ui/stat_label.h"

#include <QClipboard>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QtTest>

using tarnwick::ui::TLogMemo;

namespace {

// Counts the paints of a log's viewport.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(TLogMemo& memo) { memo.viewport()->installEventFilter(this); }
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

QPoint leftOf(const TLogMemo& memo, qsizetype line)
{
    return {1, memo.lineRect(line).center().y()};
}

QPoint rightOf(const TLogMemo& memo, qsizetype line)
{
    return {memo.viewport()->width() - 2, memo.lineRect(line).center().y()};
}

struct ShownMemo {
    ShownMemo()
    {
        memo.resize(320, 200);
        memo.show();
        QVERIFY(QTest::qWaitForWindowExposed(&memo));
    }
    void append(const QStringList& lines)
    {
        for (const QString& line : lines)
            memo.appendLine(line);
    }
    // The box has caught up with the lines appended so far.
    bool caughtUp() const
    {
        const QScrollBar* bar = memo.verticalScrollBar();
        return bar->maximum() == std::max(0, memo.lineCount() - bar->pageStep());
    }
    TLogMemo memo;
};

} // namespace

class TestLogMemo : public QObject {
    Q_OBJECT
private slots:
    void followsTheNewestLineUnlessScrolledBack();
    void paintsOnlyWhenShownAndOncePerFrame();
    void selectionWithMouseAndKeyboard();
    void typingIsRefused();
    void doubleClickGivesTheLineAndSelectsAWord();
    void longLinesScrollAcross();
    void resultsRepaintNeitherTabsNorFrame();
    void barsRepaintOnlyTheMovedHandle();
    void newLinesScrollWhatIsShown();
};

void TestLogMemo::followsTheNewestLineUnlessScrolledBack()
{
    ShownMemo s;
    TLogMemo& memo = s.memo;
    QCOMPARE(memo.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(memo.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    for (int i = 0; i < 100; ++i)
        memo.appendLine(QStringLiteral("line %1").arg(i));
    QTRY_VERIFY(s.caughtUp());
    QVERIFY(memo.followsNewest());
    QVERIFY(memo.firstVisibleLine() > 0);
    QCOMPARE(memo.lineAt(leftOf(memo, 99)), 99);

    // Scrolled back, the box stays where the user left it.
    memo.verticalScrollBar()->setValue(10);
    for (int i = 100; i < 150; ++i)
        memo.appendLine(QStringLiteral("line %1").arg(i));
    QTRY_VERIFY(s.caughtUp());
    QCOMPARE(memo.firstVisibleLine(), 10);
    QCOMPARE(memo.lineCount(), 150);

    // Back at the bottom, it follows again.
    memo.verticalScrollBar()->setValue(memo.verticalScrollBar()->maximum());
    memo.appendLine(QStringLiteral("newest"));
    QTRY_VERIFY(s.caughtUp());
    QVERIFY(memo.followsNewest());
    QCOMPARE(memo.lineAt(leftOf(memo, 150)), 150);

    // Between a Clear and the next frame no point hits a line past the end.
    memo.clear();
    memo.appendLine(QStringLiteral("after"));
    QCOMPARE(memo.firstVisibleLine(), 0);
    QCOMPARE(memo.lineAt(QPoint(5, 0)), 0);
    QCOMPARE(memo.lineAt(leftOf(memo, 0)), 0);
    QCOMPARE(memo.lineAt(leftOf(memo, 1)), -1);
    memo.clear();
    QTRY_VERIFY(s.caughtUp());
    QCOMPARE(memo.lineCount(), 0);
    QCOMPARE(memo.verticalScrollBar()->maximum(), 0);
    QCOMPARE(memo.lineAt(QPoint(5, 10)), -1);
}

void TestLogMemo::paintsOnlyWhenShownAndOncePerFrame()
{
    ShownMemo s;
    TLogMemo& memo = s.memo;
    PaintCounter counter(memo);
    memo.hide();
    for (int i = 0; i < 1000; ++i) {
        memo.appendLine(QStringLiteral("hidden %1").arg(i));
        QCoreApplication::processEvents();
    }
    QTest::qWait(50);
    QCOMPARE(counter.paints, 0);

    memo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&memo));
    QTRY_VERIFY(counter.paints > 0);
    QVERIFY(memo.followsNewest());
    QCOMPARE(memo.lineAt(leftOf(memo, 999)), 999);

    // A burst of results, each followed by the event loop as the handover
    // does: the box paints once a frame at most, not once a line.
    counter.paints = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 2000; ++i) {
        memo.appendLine(QStringLiteral("burst %1").arg(i));
        QCoreApplication::processEvents();
    }
    QTRY_VERIFY(s.caughtUp());
    const qint64 frames = clock.elapsed() / 16 + 2;
    QVERIFY2(counter.paints <= frames,
             qPrintable(QStringLiteral("%1 paints in %2 frames").arg(counter.paints).arg(frames)));
    QVERIFY(counter.paints >= 1);
}

void TestLogMemo::selectionWithMouseAndKeyboard()
{
    ShownMemo s;
    TLogMemo& memo = s.memo;
    s.append({"alpha one", "beta two", "gamma three", "delta four"});
    QTRY_VERIFY(s.caughtUp());
    memo.verticalScrollBar()->setValue(0);

    // Dragging over a whole line selects it.
    QTest::mousePress(memo.viewport(), Qt::LeftButton, {}, leftOf(memo, 1));
    QTest::mouseMove(memo.viewport(), rightOf(memo, 1));
    QTest::mouseRelease(memo.viewport(), Qt::LeftButton, {}, rightOf(memo, 1));
    QCOMPARE(memo.selectedText(), QStringLiteral("beta two"));
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(&memo, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("beta two"));

    // Shift+click extends it, across lines.
    QTest::mouseClick(memo.viewport(), Qt::LeftButton, Qt::ShiftModifier, rightOf(memo, 2));
    QCOMPARE(memo.selectedText(), QStringLiteral("beta two\ngamma three"));

    // The keyboard: a click puts the cursor, Shift with arrows selects.
    QTest::mouseClick(memo.viewport(), Qt::LeftButton, {}, leftOf(memo, 0));
    QVERIFY(!memo.hasSelection());
    QTest::keyClick(&memo, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(&memo, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&memo, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(memo.selectedText(), QStringLiteral("alpha one\nbe"));
    QTest::keyClick(&memo, Qt::Key_End, Qt::ShiftModifier);
    QCOMPARE(memo.selectedText(), QStringLiteral("alpha one\nbeta two"));
    QTest::keyClick(&memo, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("alpha one\nbeta two"));
    // An arrow without Shift drops the selection.
    QTest::keyClick(&memo, Qt::Key_Left);
    QVERIFY(!memo.hasSelection());

    QTest::keyClick(&memo, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&memo, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(),
             QStringLiteral("alpha one\nbeta two\ngamma three\ndelta four"));
    QCOMPARE(memo.toPlainText(), QStringLiteral("alpha one\nbeta two\ngamma three\ndelta four"));

    // New lines do not move a selection; Clear drops it.
    memo.setSelection({2, 0}, {2, 5});
    memo.appendLine(QStringLiteral("epsilon"));
    QCOMPARE(memo.selectedText(), QStringLiteral("gamma"));
    memo.clear();
    QVERIFY(!memo.hasSelection());
    QCOMPARE(memo.selectedText(), QString());
}

void TestLogMemo::typingIsRefused()
{
    ShownMemo s;
    TLogMemo& memo = s.memo;
    s.append({"Reply from h bytes=32 time=1 ms", "Requested Timed out."});
    memo.setFocus();
    QGuiApplication::clipboard()->setText(QStringLiteral("pasted\nlines"));
    memo.setSelection({0, 0}, {0, 5});
    QTest::keyClicks(&memo, QStringLiteral("typed note"));
    QTest::keyClick(&memo, Qt::Key_Return);
    QTest::keyClick(&memo, Qt::Key_Enter);
    QTest::keyClick(&memo, Qt::Key_Backspace);
    QTest::keyClick(&memo, Qt::Key_Delete);
    QTest::keyClick(&memo, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(&memo, Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(&memo, Qt::Key_Insert, Qt::ShiftModifier);
    QCOMPARE(memo.lineCount(), 2);
    QCOMPARE(memo.toPlainText(),
             QStringLiteral("Reply from h bytes=32 time=1 ms\nRequested Timed out."));
    QVERIFY(!memo.testAttribute(Qt::WA_InputMethodEnabled));
}

void TestLogMemo::doubleClickGivesTheLineAndSelectsAWord()
{
    ShownMemo s;
    TLogMemo& memo = s.memo;
    QSignalSpy clicks(&memo, &TLogMemo::doubleClicked);
    // An empty log reports its double clicks too (the trace opens anyway).
    QTest::mouseDClick(memo.viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(clicks.takeFirst().value(0).value<qsizetype>(), -1);

    s.append({"Requested Timed out.", "Reply from router bytes=32 time=5 ms",
              "Destination host unreachable."});
    QTRY_VERIFY(s.caughtUp());
    memo.verticalScrollBar()->setValue(0);
    QTest::mouseDClick(memo.viewport(), Qt::LeftButton, {}, leftOf(memo, 1) + QPoint(2, 0));
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(clicks.takeFirst().value(0).value<qsizetype>(), 1);
    QCOMPARE(memo.selectedText(), QStringLiteral("Reply"));
    QTest::mouseDClick(memo.viewport(), Qt::LeftButton, {}, leftOf(memo, 2));
    QCOMPARE(clicks.takeFirst().value(0).value<qsizetype>(), 2);
    QTest::mouseDClick(memo.viewport(), Qt::LeftButton, {}, leftOf(memo, 6));
    QCOMPARE(clicks.takeFirst().value(0).value<qsizetype>(), -1);
}

void TestLogMemo::longLinesScrollAcross()
{
    ShownMemo s;
    TLogMemo& memo = s.memo;
    memo.appendLine(QStringLiteral("short"));
    QTRY_VERIFY(s.caughtUp());
    QCOMPARE(memo.horizontalScrollBar()->maximum(), 0);
    const QString wide = QStringLiteral("Reply from %1 bytes=32 time=3 ms").arg(QString(120, 'w'));
    memo.appendLine(wide);
    memo.appendLine(QStringLiteral("short again"));
    QTRY_VERIFY(memo.horizontalScrollBar()->maximum() > 0);
    const int across = memo.fontMetrics().horizontalAdvance(wide) - memo.viewport()->width();
    QVERIFY(qAbs(memo.horizontalScrollBar()->maximum() - across) < 20);
    // A line of megabytes neither stalls the box nor breaks selection.
    memo.appendLine(QString(2 * 1024 * 1024, QLatin1Char('m')));
    QTRY_VERIFY(s.caughtUp());
    QTest::keyClick(&memo, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(&memo, Qt::Key_Home, Qt::ShiftModifier);
    QCOMPARE(memo.selectedText().size(), 2 * 1024 * 1024);
}

// Recording a result repaints its log and labels, not the tab control: that
// one paints its frame in strokes as tall as the window, which Qt's raster
// engine hands to its helper threads.
void TestLogMemo::resultsRepaintNeitherTabsNorFrame()
{
    tarnwick::test::FormFixture f;
    tarnwick::ui::TForm1& form = *f.form;
    form.Timer6->stop();
    form.Timer7->stop();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    PaintCounter label(form.packetLabel(0));
    form.recordResult(0, QStringLiteral("Reply from localhost bytes=32 time=1 ms"));
    // The first result's layout settles once its label has painted.
    QTRY_VERIFY(label.paints > 0);
    PaintCounter tabs(form.PageControl1);
    for (int i = 0; i < 20; ++i) {
        const int before = label.paints;
        form.recordResult(0, QStringLiteral("Reply from localhost bytes=32 time=%1 ms").arg(i));
        QTRY_VERIFY(label.paints > before);
    }
    QCOMPARE(tabs.paints, 0);
    QCOMPARE(
        form.packetLabel(0)->shownText(),
        QStringLiteral("Packets send = 21\nPackets recived = 21\nPackets lost = 0\nLoss = 0 %"));
}

namespace {
// The rect of a widget's last paint.
class LastPaint : public QObject {
public:
    explicit LastPaint(QWidget* widget) { widget->installEventFilter(this); }
    QRect rect;
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            rect = static_cast<QPaintEvent*>(event)->rect();
            ++paints;
        }
        return false;
    }
};

// The bar as it looks, and as the application's own style paints it in one
// piece.
std::pair<QImage, QImage> bandedAndWhole(QScrollBar& bar)
{
    const auto shot = [&bar] {
        return bar.grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    };
    QStyle* banded = bar.style();
    const QImage before = shot();
    bar.setStyle(QApplication::style());
    const QImage whole = shot();
    bar.setStyle(banded);
    return {before, whole};
}
} // namespace

// A line that arrives while the log follows its end moves the handle: the
// bar down repaints only around its handle, the bar across not at all, and
// the bar down, painted in bands, looks exactly as the style paints it whole.
// Delivers what is queued (relayouts, update requests, the paints they
// cause) instead of waiting some time for it.
void settle()
{
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

void TestLogMemo::barsRepaintOnlyTheMovedHandle()
{
    ShownMemo s;
    TLogMemo& memo = s.memo;
    memo.resize(320, 400);
    for (int i = 0; i < 60; ++i)
        memo.appendLine(QStringLiteral("line %1").arg(i));
    QTRY_VERIFY(s.caughtUp());
    QScrollBar* down = memo.verticalScrollBar();
    QScrollBar* across = memo.horizontalScrollBar();
    // Whatever the first layout left to paint is painted first.
    settle();
    LastPaint downPaint(down);
    LastPaint acrossPaint(across);
    PaintCounter viewportPaints(memo);
    for (int i = 60; i < 64; ++i) {
        const int before = viewportPaints.paints;
        memo.appendLine(QStringLiteral("line %1").arg(i));
        QTRY_VERIFY(viewportPaints.paints > before);
        QVERIFY(memo.followsNewest());
        QCOMPARE(memo.lineAt(leftOf(memo, i)), i);
    }
    QTRY_VERIFY(downPaint.paints > 0);
    QVERIFY2(downPaint.rect.height() < down->height() / 2,
             qPrintable(
                 QStringLiteral("%1 of %2 rows").arg(downPaint.rect.height()).arg(down->height())));
    QCOMPARE(acrossPaint.paints, 0);

    QVERIFY(down->style() != QApplication::style());
    const auto [following, followingWhole] = bandedAndWhole(*down);
    QCOMPARE(following, followingWhole);
    // Scrolled back, the handle is elsewhere; a resize still lays the bars out.
    down->setValue(3);
    memo.resize(300, 250);
    QTRY_COMPARE(down->height() + across->height(), memo.height() - 2 * memo.frameWidth());
    const auto [back, backWhole] = bandedAndWhole(*down);
    QCOMPARE(back, backWhole);
}

namespace {
// What the window shows of the log's viewport, beside the viewport painted
// whole anew.
std::pair<QImage, QImage> shownAndRepainted(TLogMemo& memo)
{
    QWidget* viewport = memo.viewport();
    const QRect place(viewport->mapTo(&memo, QPoint(0, 0)), viewport->size());
    const QImage shown = memo.screen()
                             ->grabWindow(memo.winId())
                             .toImage()
                             .copy(place)
                             .convertToFormat(QImage::Format_RGB32);
    return {shown, viewport->grab().toImage().convertToFormat(QImage::Format_RGB32)};
}
} // namespace

// New lines move what is shown up and paint only themselves: what the window
// then shows is what a whole repaint gives, following or scrolled back.
void TestLogMemo::newLinesScrollWhatIsShown()
{
    ShownMemo s;
    TLogMemo& memo = s.memo;
    PaintCounter paints(memo);
    // Lines that land below the last one while the box is not yet full.
    s.append({QStringLiteral("first"), QStringLiteral("second")});
    QTRY_VERIFY(paints.paints > 0 && s.caughtUp());
    s.append({QStringLiteral("third"), QStringLiteral("fourth"), QStringLiteral("fifth")});
    QTRY_VERIFY(paints.paints > 1 && s.caughtUp());
    settle();
    const auto [filling, fillingWhole] = shownAndRepainted(memo);
    QCOMPARE(filling, fillingWhole);
    for (int i = 0; i < 40; ++i)
        memo.appendLine(QStringLiteral("line %1").arg(i));
    QTRY_VERIFY(s.caughtUp());
    for (int i = 40; i < 46; ++i) {
        const int before = paints.paints;
        memo.appendLine(
            QStringLiteral("line %1 %2").arg(i).arg(QString(i % 3 * 5, QLatin1Char('x'))));
        QTRY_VERIFY(paints.paints > before);
        QVERIFY(memo.followsNewest());
    }
    // A burst caught up with in one frame.
    const int before = paints.paints;
    s.append({QStringLiteral("burst a"), QStringLiteral("burst b"), QStringLiteral("burst c")});
    QTRY_VERIFY(paints.paints > before && s.caughtUp());
    const auto [shown, whole] = shownAndRepainted(memo);
    QCOMPARE(shown, whole);

    memo.verticalScrollBar()->setValue(5);
    QTRY_VERIFY(paints.paints > 0);
    for (int i = 46; i < 49; ++i) {
        memo.appendLine(QStringLiteral("line %1").arg(i));
        QTRY_VERIFY(s.caughtUp());
    }
    settle();
    QCOMPARE(memo.firstVisibleLine(), 5);
    const auto [back, backWhole] = shownAndRepainted(memo);
    QCOMPARE(back, backWhole);
}

QTEST_MAIN(TestLogMemo)
#include "tst_log_memo.moc"
