// The text tray icon: its painting checked pixel by pixel against positions
// worked out from the font's own metrics, the colour and mask rules, and
// which writes draw the text again.
#include "support/memory_notify_area.h"
#include "support/tray_doubles.h"
#include "tray/text_tray_icon.h"

#include <QPainter>
#include <QtTest>

#include <memory>

using namespace tarnwick::tray;
using tarnwick::platform::MemoryNotifyArea;

namespace {

TFont testFont(QColor colour = clNavy)
{
    TFont f;
    f.font = QFont(QStringLiteral("DejaVu Sans"));
    f.font.setPixelSize(11);
    f.color = colour;
    return f;
}

// The font as the icon draws with it: pixel for pixel, no smoothing.
QFont drawingFont(const TFont& f)
{
    QFont font = f.font;
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

QFontMetrics metricsOf(const TFont& f)
{
    QImage device(16, 16, QImage::Format_RGB32);
    QPainter p(&device);
    p.setFont(drawingFont(f));
    return p.fontMetrics();
}

int width(const QString& s)
{
    return metricsOf(testFont()).horizontalAdvance(s);
}

// The first of the candidates whose leftover (15 - width) has the parity asked
// for, so the rows below hold whichever font the machine substitutes.
QString withLeftover(bool odd, const QStringList& candidates)
{
    for (const QString& s : candidates) {
        if (((15 - width(s)) % 2 != 0) == odd)
            return s;
    }
    return candidates.first();
}

QColor iconPixel(const QIcon& icon, QPoint at)
{
    return icon.pixmap(16, 16).toImage().pixelColor(at);
}

QPoint firstPixelOf(const QImage& image, QColor colour, QPoint from = {1, 1})
{
    for (int y = from.y(); y < 15; ++y) {
        for (int x = from.x(); x < 15; ++x) {
            if (image.pixelColor(x, y).rgb() == colour.rgb())
                return {x, y};
        }
    }
    return {-1, -1};
}

} // namespace

class TestTextTrayIcon : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { QVERIFY(!TTrayIconHandler::instance()); }

    void paintText_data();
    void paintText();
    void colourAndMask_data();
    void colourAndMask();
    void writesThatDraw_data();
    void writesThatDraw();
    void mergesWithBackground_data();
    void mergesWithBackground();

private:
    tarnwick::test::ManualTime m_ticks;
    ManualDesktop m_desktop;
    MemoryNotifyArea* m_area = nullptr;
};

void TestTextTrayIcon::initTestCase()
{
    TTrayIconHandler::useAreaFactory([this] {
        auto area = std::make_unique<MemoryNotifyArea>();
        m_area = area.get();
        return area;
    });
}

void TestTextTrayIcon::paintText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("offsetX");
    QTest::addColumn<int>("offsetY");
    QTest::addColumn<int>("lineDistance");
    QTest::addColumn<bool>("border");

    const QStringList singles = {"W", "I", "x", "ab", "Ox", "m", "il"};
    const QStringList wide = {"WWWW", "WWWi", "WWWl", "MMMM"};
    QTest::newRow("single line, even leftover")
        << withLeftover(false, singles) << 0 << 0 << 0 << false;
    QTest::newRow("single line, odd leftover: a pixel left")
        << withLeftover(true, singles) << 0 << 0 << 0 << false;
    QTest::newRow("wider than the square, odd leftover: truncated toward zero")
        << withLeftover(true, wide) << 0 << 0 << 0 << false;
    QTest::newRow("wider than the square, even leftover")
        << withLeftover(false, wide) << 0 << 0 << 0 << false;
    QTest::newRow("offsets move the text") << "W" << 2 << -3 << 0 << false;
    QTest::newRow("two lines, each centred") << "I\rW" << 0 << 0 << 0 << false;
    QTest::newRow("a trailing CR adds an empty third line") << "I\rW\r" << 0 << 0 << 0 << false;
    QTest::newRow("line distance spreads the lines") << "a\rb" << 0 << 0 << 3 << false;
    QTest::newRow("a line feed stays in its line") << "a\nb\rc" << 1 << 0 << 0 << false;
    QTest::newRow("frame over the text") << "WW" << 0 << 0 << 0 << true;
}

void TestTextTrayIcon::paintText()
{
    QFETCH(QString, text);
    QFETCH(int, offsetX);
    QFETCH(int, offsetY);
    QFETCH(int, lineDistance);
    QFETCH(bool, border);

    const TFont font = testFont();
    TTextTrayIcon icon(m_desktop);
    icon.setFont(font);
    icon.setColor(clWhite);
    icon.setBorderColor(Qt::red);
    icon.setBorder(border);
    icon.options()->setOffsetX(offsetX);
    icon.options()->setOffsetY(offsetY);
    icon.options()->setLineDistance(lineDistance);
    icon.setText(text);

    // The placement rule, from the font's own metrics: centred on 15, lines
    // split at CR (the last piece may be empty and still counts).
    const QFontMetrics fm = metricsOf(font);
    QImage expected(16, 16, QImage::Format_RGB32);
    expected.fill(clWhite);
    QPainter p(&expected);
    p.setFont(drawingFont(font));
    p.setPen(font.color);
    const QStringList lines = text.split(QChar(13));
    const int h = fm.height() + (lines.size() > 1 ? lineDistance : 0);
    const int n = static_cast<int>(lines.size());
    const int top = (15 - n * h) / 2 + offsetY;
    for (int i = 0; i < n; ++i) {
        const int x = (15 - fm.horizontalAdvance(lines.at(i))) / 2 + offsetX;
        p.drawText(x, top + i * h + fm.ascent(), lines.at(i));
    }
    if (border) {
        p.setPen(Qt::red);
        p.drawRect(0, 0, 15, 15);
    }
    p.end();

    const QImage painted = icon.textBitmap().convertToFormat(QImage::Format_RGB32);
    if (painted != expected) {
        painted.scaled(160, 160).save(QDir::temp().filePath("painted.png"));
        expected.scaled(160, 160).save(QDir::temp().filePath("expected.png"));
    }
    QCOMPARE(painted, expected);
    // Something was drawn at all (an empty text would pass the comparison).
    QVERIFY(firstPixelOf(painted, font.color, {0, 0}).x() >= 0);
}

void TestTextTrayIcon::colourAndMask_data()
{
    QTest::addColumn<QColor>("color");
    QTest::addColumn<QColor>("keyColour");
    QTest::addColumn<int>("backgroundAlpha");

    const QColor invertedNavy(255, 255, 127);
    QTest::newRow("clWhite: an opaque white square") << clWhite << clWhite << 255;
    QTest::newRow("clNone: the background is transparent") << clNone << invertedNavy << 0;
    QTest::newRow("the font's colour: inverted, opaque, readable")
        << QColor(clNavy) << invertedNavy << 255;
    QTest::newRow("another colour: that colour, opaque")
        << QColor(Qt::red) << QColor(Qt::red) << 255;
}

void TestTextTrayIcon::colourAndMask()
{
    QFETCH(QColor, color);
    QFETCH(QColor, keyColour);
    QFETCH(int, backgroundAlpha);

    TTextTrayIcon icon(m_desktop);
    icon.setFont(testFont(clNavy));
    icon.setText(QStringLiteral("OO"));
    icon.setBorder(true);
    icon.setColor(color);

    const QImage painted = icon.textBitmap();
    QCOMPARE(painted.pixelColor(1, 1).rgb(), keyColour.rgb());
    const QPoint textAt = firstPixelOf(painted, clNavy);
    QVERIFY(textAt.x() >= 0);

    const QColor background = iconPixel(icon.icon(), {1, 1});
    QCOMPARE(background.alpha(), backgroundAlpha);
    if (backgroundAlpha)
        QCOMPARE(background.rgb(), keyColour.rgb());
    // Text and the (black by default) frame always stay.
    QCOMPARE(iconPixel(icon.icon(), textAt), QColor(clNavy));
    QCOMPARE(iconPixel(icon.icon(), {0, 7}), QColor(clBlack));
    QCOMPARE(iconPixel(icon.icon(), {15, 15}), QColor(clBlack));
}

void TestTextTrayIcon::writesThatDraw_data()
{
    QTest::addColumn<QString>("write");
    QTest::addColumn<int>("modifies");
    QTest::addColumn<bool>("drawn");

    QTest::newRow("Text") << "text" << 1 << true;
    QTest::newRow("Color") << "color" << 1 << true;
    QTest::newRow("Border") << "border" << 1 << true;
    QTest::newRow("BorderColor") << "borderColor" << 1 << true;
    QTest::newRow("BackgroundIcon") << "background" << 1 << true;
    QTest::newRow("Font: its change, then the write") << "font" << 2 << true;
    QTest::newRow("an option that changes") << "offsetX" << 1 << true;
    QTest::newRow("an option written with its value") << "sameOffset" << 0 << false;
    QTest::newRow("Options assigned whole: each change draws") << "assign" << 2 << true;
    QTest::newRow("Icon: shown as given, no text drawn") << "icon" << 1 << false;
}

void TestTextTrayIcon::writesThatDraw()
{
    QFETCH(QString, write);
    QFETCH(int, modifies);
    QFETCH(bool, drawn);

    TTextTrayIcon icon(m_desktop);
    TCustomImageList list;
    QImage cell(16, 16, QImage::Format_ARGB32);
    for (const QColor c : {QColor(Qt::red), QColor(Qt::green)}) {
        cell.fill(c);
        list.add(cell);
    }
    icon.setIconVisible(true);
    icon.setText(QStringLiteral("A"));
    icon.setIconList(&list);
    icon.setCycleInterval(100);
    icon.setCycleIcons(true);
    m_area->clearRequests();
    const QImage before = icon.textBitmap();

    TOffsetOptions other;
    other.setOffsetX(1);
    other.setLineDistance(2);
    cell.fill(Qt::blue);
    const QIcon blue(QPixmap::fromImage(cell));
    if (write == "text")
        icon.setText(QStringLiteral("B"));
    else if (write == "color")
        icon.setColor(Qt::red);
    else if (write == "border")
        icon.setBorder(true);
    else if (write == "borderColor")
        icon.setBorderColor(Qt::red);
    else if (write == "background")
        icon.setBackgroundIcon(blue);
    else if (write == "font")
        icon.setFont(testFont(Qt::red));
    else if (write == "offsetX")
        icon.options()->setOffsetX(3);
    else if (write == "sameOffset")
        icon.options()->setOffsetX(0);
    else if (write == "assign")
        icon.options()->assign(other);
    else if (write == "icon")
        icon.setIcon(blue);

    QCOMPARE(m_area->requests().size(), modifies);
    // Drawing the text ends cycling; showing a picture does not.
    QCOMPARE(icon.cycleIcons(), !drawn);
    if (write == "icon") {
        QCOMPARE(icon.textBitmap(), before);
        QCOMPARE(iconPixel(m_area->icons().value(icon.iconId()).state.image, {8, 8}),
                 QColor(Qt::blue));
    }
    // These change the painting itself (the others only what covers it).
    if (QStringList{"text", "color", "border", "font", "offsetX", "assign"}.contains(write))
        QVERIFY(icon.textBitmap() != before);
}

void TestTextTrayIcon::mergesWithBackground_data()
{
    QTest::addColumn<QColor>("color");
    QTest::newRow("a colour") << clWhite;
    QTest::newRow("clNone") << clNone;
    QTest::newRow("the font's colour") << QColor(clNavy);
}

void TestTextTrayIcon::mergesWithBackground()
{
    QFETCH(QColor, color);

    // Left half green, right half transparent.
    QImage back(16, 16, QImage::Format_ARGB32);
    back.fill(Qt::transparent);
    QPainter(&back).fillRect(0, 0, 8, 16, Qt::green);
    TTextTrayIcon icon(m_desktop);
    icon.setFont(testFont(clNavy));
    icon.setColor(color);
    icon.setText(QStringLiteral("I"));
    icon.setBackgroundIcon(QIcon(QPixmap::fromImage(back)));

    // Whatever Color says, the background icon shows where there is no text,
    // and its transparent part stays transparent.
    const QIcon shown = icon.icon();
    const QPoint textAt = firstPixelOf(icon.textBitmap(), clNavy);
    QVERIFY(textAt.x() >= 0);
    QCOMPARE(iconPixel(shown, textAt), QColor(clNavy));
    QCOMPARE(iconPixel(shown, {1, 1}), QColor(Qt::green));
    QCOMPARE(iconPixel(shown, {14, 1}).alpha(), 0);
}

QTEST_MAIN(TestTextTrayIcon)
#include "tst_text_tray_icon.moc"
