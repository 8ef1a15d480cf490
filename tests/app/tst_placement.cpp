// Where the windows open: centred on the screen's available area along each
// axis they fit on, otherwise pulled onto it so that the title strip and the
// close glyph stay reachable. Runs on a 1600 x 1000 screen at twice the
// scale, an 800 x 500 area on which the main window fits neither way.
#include "PelorinForm.h"
#include "ScreenPlacement.h"
#include "VantorAbout.h"

#include <QGuiApplication>
#include <QScreen>
#include <QtTest>

using pelorin::placeOnScreen;

class TstPlacement : public QObject {
    Q_OBJECT

    QRect available() const { return QGuiApplication::primaryScreen()->availableGeometry(); }

private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), 2.0);
        QCOMPARE(available(), QRect(0, 0, 800, 500));
    }

    void placement_data() {
        QTest::addColumn<QSize>("window");
        QTest::addColumn<QRect>("area");
        QTest::addColumn<QPoint>("topLeft");
        QTest::newRow("fits: centred") << QSize(995, 557) << QRect(0, 0, 1920, 1040) << QPoint(462, 241);
        QTest::newRow("fits exactly") << QSize(995, 557) << QRect(10, 20, 995, 557) << QPoint(10, 20);
        QTest::newRow("panel on top, fits") << QSize(460, 290) << QRect(0, 32, 800, 468) << QPoint(170, 121);
        QTest::newRow("too tall: title strip on top") << QSize(995, 557) << QRect(0, 0, 1280, 500) << QPoint(142, 0);
        QTest::newRow("too wide: close glyph on the right") << QSize(995, 557) << QRect(0, 0, 900, 700)
                                                            << QPoint(-95, 71);
        QTest::newRow("neither: both") << QSize(995, 557) << QRect(0, 0, 800, 500) << QPoint(-195, 0);
        QTest::newRow("second screen with a panel") << QSize(995, 557) << QRect(1600, 30, 800, 470)
                                                    << QPoint(1405, 30);
    }
    void placement() {
        QFETCH(QSize, window);
        QFETCH(QRect, area);
        QFETCH(QPoint, topLeft);
        QCOMPARE(placeOnScreen(window, area), topLeft);
    }

    // The main window keeps its title strip, and in it the close glyph, on the
    // screen; the about dialog, which fits, opens centred.
    void realWindows() {
        pelorin::PelorinForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.size(), QSize(995, 557));
        QCOMPARE(form.geometry().top(), available().top());
        QCOMPARE(form.geometry().right(), available().right());
        auto* close = form.findChild<QWidget*>("Close");
        QVERIFY(available().contains(QRect(close->mapToGlobal(QPoint(0, 0)), close->size())));
        auto* topBar = form.findChild<QWidget*>("TopBar");
        QVERIFY(available().intersects(QRect(topBar->mapToGlobal(QPoint(0, 0)), topBar->size())));

        pelorin::VantorAbout about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QCOMPARE(about.geometry().center(), available().center());
    }
};

QTEST_MAIN(TstPlacement)
#include "tst_placement.moc"
