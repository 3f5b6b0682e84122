// The four status pictures must be told apart by shape, not only by colour,
// and stay sharp at every size a notification area asks for.
#include "ui/pictures.h"

#include <QSet>
#include <QtTest>

using tarnwick::ui::pictureSizes;
using tarnwick::ui::renderPicture;

namespace {

const QStringList statusNames = {"status_ok", "status_some", "status_many", "status_all"};

// Which pixels are covered at all: what is left when hue and brightness are
// taken away.
QImage coverage(const QImage& picture)
{
    QImage mask(picture.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x)
            mask.setPixel(x, y, qAlpha(picture.pixel(x, y)) >= 128 ? 0xffffffu : 0u);
    }
    return mask;
}

int differingPixels(const QImage& a, const QImage& b)
{
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x)
            count += a.pixel(x, y) != b.pixel(x, y);
    }
    return count;
}

} // namespace

class TestStatusPictures : public QObject {
    Q_OBJECT

private slots:
    void toldApartByShape_data();
    void toldApartByShape();
    void sharpAtEverySize_data();
    void sharpAtEverySize();
};

void TestStatusPictures::toldApartByShape_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<int>("size");
    for (int i = 0; i < statusNames.size(); ++i) {
        for (int j = i + 1; j < statusNames.size(); ++j) {
            for (const int size : pictureSizes) {
                QTest::addRow("%s vs %s at %d", qPrintable(statusNames[i]),
                              qPrintable(statusNames[j]), size)
                    << statusNames[i] << statusNames[j] << size;
            }
        }
    }
}

void TestStatusPictures::toldApartByShape()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(int, size);
    const QImage a = renderPicture(first, size);
    const QImage b = renderPicture(second, size);
    QCOMPARE(a.size(), QSize(size, size));
    QCOMPARE(b.size(), QSize(size, size));
    // A badge of its own per state: at 16 px at least six pixels, scaled up
    // with the area.
    const int differing = differingPixels(coverage(a), coverage(b));
    QVERIFY2(differing >= size * size / 40, qPrintable(QString::number(differing)));
}

void TestStatusPictures::sharpAtEverySize_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("size");
    for (const QString& name : statusNames) {
        for (const int size : pictureSizes)
            QTest::addRow("%s at %d", qPrintable(name), size) << name << size;
    }
}

void TestStatusPictures::sharpAtEverySize()
{
    QFETCH(QString, name);
    QFETCH(int, size);
    const QImage picture = renderPicture(name, size).convertToFormat(QImage::Format_ARGB32);
    // Drawn on whole pixels: no edge is smeared into half-covered pixels or
    // blended colours, which scaling a drawing by a broken factor gives.
    QSet<QRgb> colours;
    int partial = 0;
    int covered = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const QRgb p = picture.pixel(x, y);
            partial += qAlpha(p) > 0 && qAlpha(p) < 255;
            covered += qAlpha(p) == 255;
            if (qAlpha(p) > 0)
                colours.insert(p);
        }
    }
    QCOMPARE(partial, 0);
    QVERIFY2(colours.size() <= 8, qPrintable(QString::number(colours.size())));
    // And it fills the area it was given, less at most a pixel of margin.
    QVERIFY(covered >= (size - 2) * (size - 2) / 3);
    QCOMPARE(qAlpha(picture.pixel(size / 2, size / 2)), 255);
}

QTEST_MAIN(TestStatusPictures)
#include "tst_status_pictures.moc"
