#include "app/VerticalTabBar.h"
#include "TestMain.h"
#include "app/VerticalTabWidget.h"

#include <QApplication>
#include <QImage>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

namespace {
struct OpenVerticalBar : VerticalTabBar
{
    using VerticalTabBar::tabSizeHint;
};

struct OpenWestBar : QTabBar
{
    OpenWestBar() { setShape(QTabBar::RoundedWest); }
    using QTabBar::tabSizeHint;
};

// The box around the dark (text) pixels of `image` within `area`.
QRect inkBox(const QImage &image, const QRect &area)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qGray(image.pixel(x, y)) < 60)
                box |= QRect(x, y, 1, 1);
    return box;
}

template <typename Bar> QRect captionBox(Bar &bar)
{
    bar.addTab(QStringLiteral("WWWWWWWWWWWW"));
    bar.resize(bar.sizeHint());
    const QImage image = bar.grab().toImage();
    // Leave the frame of the tab out; only the caption is dark.
    return inkBox(image, bar.tabRect(0).adjusted(4, 4, -4, -4));
}
} // namespace

class VerticalTabBarTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sizeHintIsTheWestHintTurned();
    void tabsSitOnTheWestAndShareTheWidestWidth();
    void captionIsPaintedHorizontally();
    void emptyBarPaintsNothing();
};

void VerticalTabBarTest::initTestCase()
{
    // A fixed style and palette make the painted pixels predictable.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette = QApplication::style()->standardPalette();
    palette.setColor(QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::ButtonText, Qt::black);
    QApplication::setPalette(palette);
}

void VerticalTabBarTest::sizeHintIsTheWestHintTurned()
{
    OpenVerticalBar vertical;
    OpenWestBar west;
    for (const QString &caption : {QStringLiteral("Информация"), QStringLiteral("Исправление ошибок")}) {
        vertical.addTab(caption);
        west.addTab(caption);
    }
    vertical.setShape(QTabBar::RoundedWest);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(vertical.tabSizeHint(i), west.tabSizeHint(i).transposed());
        QVERIFY(vertical.tabSizeHint(i).width() > vertical.tabSizeHint(i).height());
    }
}

void VerticalTabBarTest::tabsSitOnTheWestAndShareTheWidestWidth()
{
    VerticalTabWidget tabs;
    QWidget short_, long_;
    tabs.addTab(&short_, QStringLiteral("Утилиты"));
    tabs.addTab(&long_, QStringLiteral("Запрещенные программы"));
    tabs.resize(600, 400);
    tabs.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tabs));

    QCOMPARE(tabs.tabPosition(), QTabWidget::West);
    QTabBar *bar = tabs.tabBar();
    QVERIFY(dynamic_cast<VerticalTabBar *>(bar));
    QCOMPARE(bar->parent(), &tabs);
    QCOMPARE(bar->tabRect(0).width(), bar->tabRect(1).width());
    QVERIFY(bar->tabRect(0).bottom() < bar->tabRect(1).top());
    QVERIFY(bar->tabRect(1).width() >= bar->fontMetrics().horizontalAdvance(QStringLiteral("Запрещенные программы")));
}

void VerticalTabBarTest::captionIsPaintedHorizontally()
{
    OpenWestBar west;
    const QRect turned = captionBox(west);
    QVERIFY2(turned.height() > 2 * turned.width(), "Qt's own west tab turns its caption");

    VerticalTabBar vertical;
    vertical.setShape(QTabBar::RoundedWest);
    const QRect upright = captionBox(vertical);
    QVERIFY(!upright.isEmpty());
    QVERIFY2(upright.width() > 2 * upright.height(), "the caption must read left to right");
    // Centred in its tab.
    const QPoint offset = upright.center() - vertical.tabRect(0).center();
    QVERIFY2(qAbs(offset.x()) <= 3 && qAbs(offset.y()) <= 3,
             qPrintable(QStringLiteral("caption off centre by %1,%2").arg(offset.x()).arg(offset.y())));
}

void VerticalTabBarTest::emptyBarPaintsNothing()
{
    VerticalTabBar bar;
    bar.setShape(QTabBar::RoundedWest);
    bar.resize(80, 80);
    const QImage image = bar.grab().toImage();
    const QRgb background = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            QCOMPARE(image.pixel(x, y), background);
}

VIGILOR_TEST_MAIN(VerticalTabBarTest)
#include "VerticalTabBarTest.moc"
