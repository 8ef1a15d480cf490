// The about dialog on its own: placement and colours read back from grab(),
// the description and link reading as one sentence, dragging, hover feedback,
// closing, and the two addresses it hands to the desktop.
#include "VantorAbout.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QtTest>

using pelorin::VantorAbout;

// Stands in for the desktop's web browser.
class UrlCapture : public QObject {
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls << url; }
};

namespace {

void sendEnter(QWidget* widget) {
    const QPoint pos = widget->rect().center();
    QEnterEvent event(pos, pos, widget->mapToGlobal(pos));
    QApplication::sendEvent(widget, &event);
}

void sendLeave(QWidget* widget) {
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(widget, &event);
}

}  // namespace

class TstVantorAbout : public QObject {
    Q_OBJECT

    VantorAbout* dialog = nullptr;
    UrlCapture browser;

    template <typename T = QWidget>
    T* child(const QString& name) const {
        T* found = dialog->findChild<T*>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }

    QRect inDialog(const QWidget* widget) const {
        return QRect(widget->mapTo(dialog, QPoint(0, 0)), widget->size());
    }

    bool centred() const {
        const QPoint off = dialog->geometry().center() - dialog->screen()->availableGeometry().center();
        return qAbs(off.x()) <= 1 && qAbs(off.y()) <= 1;
    }

private slots:
    void init() {
        browser.urls.clear();
        QDesktopServices::setUrlHandler("https", &browser, "open");
        dialog = new VantorAbout;
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
    }
    void cleanup() {
        delete dialog;
        dialog = nullptr;
        QDesktopServices::unsetUrlHandler("https");
    }

    void frameless_fixed_centred() {
        QVERIFY(dialog->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(dialog->size(), QSize(460, 290));
        QCOMPARE(dialog->frameGeometry(), dialog->geometry());
        QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
        QVERIFY(centred());
        QVERIFY(dialog->windowIcon().availableSizes().contains(QSize(16, 16)));
        QCOMPARE(child<QLabel>("Logo")->pixmap().size(), QSize(512, 512));
    }

    void placement_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<bool>("autoSize");
        QTest::newRow("Border") << "Border" << QRect(0, 0, 460, 290) << false;
        QTest::newRow("Logo") << "Logo" << QRect(180, 29, 100, 99) << false;
        QTest::newRow("WebUrl") << "WebUrl" << QRect(137, 193, 0, 0) << true;
        QTest::newRow("CopyrightLabel") << "CopyrightLabel" << QRect(105, 168, 0, 0) << true;
        QTest::newRow("Title") << "Title" << QRect(119, 140, 0, 0) << true;
        QTest::newRow("Description") << "Description" << QRect(50, 235, 0, 0) << true;
        QTest::newRow("Close") << "Close" << QRect(423, 1, 0, 0) << true;
    }
    void placement() {
        QFETCH(QString, name);
        QFETCH(QRect, rect);
        QFETCH(bool, autoSize);
        QWidget* widget = child(name);
        QVERIFY(widget->isVisible());
        if (autoSize) {
            QCOMPARE(inDialog(widget).topLeft(), rect.topLeft());
            QCOMPARE(widget->size(), widget->sizeHint());
        } else {
            QCOMPARE(inDialog(widget), rect);
        }
    }

    void texts() {
        QCOMPARE(child<QLabel>("Title")->text(), QString("PELORIN | Vantor v3.0.1"));
        QCOMPARE(child<QLabel>("CopyrightLabel")->text(), QString::fromUtf8("© 2026 PELORIN. All rights reserved."));
        QCOMPARE(child<QLabel>("WebUrl")->text(), QString(VANTOR_WEBSITE_URL));
        QCOMPARE(child<QLabel>("Description")->text(), QString("PELORIN | Vantor written in c++ and "));
        QCOMPARE(child<QLabel>("LibsassLink")->text(), QString("Libsass - Sass Compiler"));
        QCOMPARE(child<QLabel>("Close")->text(), QString("X"));
        QCOMPARE(child("Close")->toolTip(), QString("Close"));
        QCOMPARE(child("WebUrl")->toolTip(), QString("Open Website"));
        QCOMPARE(dialog->windowTitle(), QString("VantorAbout"));
    }

    // The description and the link read as one sentence: the link's text starts
    // where the description's text ends, on the same row of pixels, and the
    // link lies in front where the two controls overlap.
    void descriptionAndLinkOnOneRow() {
        auto* description = child<QLabel>("Description");
        auto* link = child<QLabel>("LibsassLink");
        const QRect text = description->contentsRect().translated(description->pos());
        QCOMPARE(link->y(), text.top());
        QCOMPARE(link->x(), text.left() + description->fontMetrics().horizontalAdvance(description->text()));
        QCOMPARE(link->contentsRect(), link->rect());
        QCOMPARE(link->fontMetrics().ascent(), description->fontMetrics().ascent());
        QVERIFY(description->geometry().intersects(link->geometry()));
        const QPoint overlap = description->geometry().intersected(link->geometry()).center();
        QCOMPARE(child("Border")->childAt(overlap), link);

        // On the screen: the link's text pixels and the description's text pixels
        // share their rows, and no text pixel lies between the two.
        const QImage image = dialog->grab().toImage();
        const QColor background = image.pixelColor(30, 100);
        auto inkRows = [&](const QRect& area) {
            int top = -1;
            for (int y = area.top(); y <= area.bottom() && top < 0; ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    if (image.pixelColor(x, y) != background) {
                        top = y;
                        break;
                    }
            return top;
        };
        const QRect linkArea = inDialog(link);
        // "and " and "Li": letters without ascenders above the capitals.
        const int andWidth = description->fontMetrics().horizontalAdvance("and ");
        const QRect descriptionEnd(linkArea.left() - andWidth, linkArea.top(), andWidth, linkArea.height());
        const int linkTop = inkRows(linkArea);
        const int descriptionTop = inkRows(descriptionEnd);
        QVERIFY(linkTop >= 0 && descriptionTop >= 0);
        QVERIFY2(qAbs(linkTop - descriptionTop) <= 1,
                 qPrintable(QString("link text from row %1, description from row %2").arg(linkTop).arg(descriptionTop)));
    }

    void palette_data() {
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QColor>("color");
        QTest::newRow("frame top") << QPoint(200, 0) << QColor(0, 0, 0);
        QTest::newRow("frame left") << QPoint(0, 100) << QColor(0, 0, 0);
        QTest::newRow("frame right") << QPoint(459, 200) << QColor(0, 0, 0);
        QTest::newRow("frame bottom") << QPoint(200, 289) << QColor(0, 0, 0);
        QTest::newRow("background") << QPoint(30, 100) << QColor(20, 20, 20);
        QTest::newRow("beside the close glyph") << QPoint(400, 10) << QColor(20, 20, 20);
        QTest::newRow("below the links") << QPoint(230, 275) << QColor(20, 20, 20);
    }
    void palette() {
        QFETCH(QPoint, at);
        QFETCH(QColor, color);
        QCOMPARE(dialog->grab().toImage().pixelColor(at), color);
    }

    void textColours() {
        QCOMPARE(child("Title")->palette().color(QPalette::WindowText), QColor(204, 204, 204));
        QCOMPARE(child("Close")->palette().color(QPalette::WindowText), QColor(204, 204, 204));
        for (const char* name : {"CopyrightLabel", "WebUrl", "Description", "LibsassLink"})
            QCOMPARE(child(name)->palette().color(QPalette::WindowText), QColor(115, 115, 115));
        QCOMPARE(child("Title")->font().pointSizeF(), 12.0);
        QVERIFY(child("Close")->font().bold());
        QVERIFY(child("LibsassLink")->font().underline());
    }

    void closeHover() {
        QWidget* close = child("Close");
        const QPoint probe = inDialog(close).topLeft() + QPoint(2, 2);
        QCOMPARE(dialog->grab().toImage().pixelColor(probe), QColor(20, 20, 20));
        sendEnter(close);
        QCOMPARE(dialog->grab().toImage().pixelColor(probe), QColor(68, 68, 68));
        sendLeave(close);
        QCOMPARE(dialog->grab().toImage().pixelColor(probe), QColor(20, 20, 20));
    }

    void webUrlHover() {
        QWidget* web = child("WebUrl");
        sendEnter(web);
        QVERIFY(web->font().underline());
        QCOMPARE(web->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(web->palette().color(QPalette::WindowText), QColor(115, 115, 115));
        sendLeave(web);
        QVERIFY(!web->font().underline());
        QCOMPARE(web->cursor().shape(), Qt::ArrowCursor);
        // The copyright notice never reacts.
        QWidget* notice = child("CopyrightLabel");
        sendEnter(notice);
        QVERIFY(!notice->font().underline());
        QCOMPARE(notice->cursor().shape(), Qt::ArrowCursor);
    }

    void linkActiveColour() {
        QWidget* link = child("LibsassLink");
        QTest::mousePress(link, Qt::LeftButton);
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(192, 192, 192));
        QTest::mouseRelease(link, Qt::LeftButton);
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(115, 115, 115));
    }

    void drag_data() {
        QTest::addColumn<QString>("handle");
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<QPoint>("press");
        const struct {
            const char* name;
            QPoint press;
        } handles[] = {{"Logo", {20, 30}}, {"Title", {6, 8}}, {"CopyrightLabel", {30, 4}},
                       {"Border", {40, 270}}, {"", {8, 280}}};
        for (const auto& handle : handles) {
            const QString name = *handle.name ? handle.name : "dialog";
            QTest::newRow(qPrintable(name + " left")) << QString(handle.name) << Qt::LeftButton << handle.press;
            QTest::newRow(qPrintable(name + " right")) << QString(handle.name) << Qt::RightButton << handle.press;
        }
    }
    void drag() {
        QFETCH(QString, handle);
        QFETCH(Qt::MouseButton, button);
        QFETCH(QPoint, press);
        QWidget* widget = handle.isEmpty() ? dialog : child(handle);
        const QPoint start = dialog->pos();
        const QPoint mouse = widget->mapToGlobal(press);
        QTest::mousePress(widget, button, {}, press);
        for (QPoint travel : {QPoint(0, 1), QPoint(-25, 14), QPoint(120, -70)}) {
            QTest::mouseMove(widget, widget->mapFromGlobal(mouse + travel));
            QCOMPARE(dialog->pos(), start + travel);
        }
        QTest::mouseRelease(widget, button, {}, widget->mapFromGlobal(mouse + QPoint(120, -70)));
        QCOMPARE(dialog->pos(), start + QPoint(120, -70));
        QVERIFY(dialog->isVisible());
    }

    void noDragElsewhere_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Qt::MouseButton>("button");
        for (const char* name : {"WebUrl", "Description", "LibsassLink", "Close"}) {
            QTest::newRow(qPrintable(QString(name) + " left")) << name << Qt::LeftButton;
            QTest::newRow(qPrintable(QString(name) + " right")) << name << Qt::RightButton;
        }
    }
    void noDragElsewhere() {
        QFETCH(QString, name);
        QFETCH(Qt::MouseButton, button);
        QWidget* widget = child(name);
        const QPoint press = widget->rect().center();
        const QPoint start = dialog->pos();
        QTest::mousePress(widget, button, {}, press);
        QTest::mouseMove(widget, press + QPoint(40, -30));
        QTest::mouseMove(widget, press + QPoint(300, -200));
        QTest::mouseRelease(widget, button, {}, press + QPoint(300, -200));
        QCOMPARE(dialog->pos(), start);
        QVERIFY(dialog->isVisible());
        QVERIFY(browser.urls.isEmpty());
    }

    void closeHides() {
        QPointer<VantorAbout> guard(dialog);
        QTest::mouseClick(child("Close"), Qt::LeftButton);
        QVERIFY(guard);
        QVERIFY(!dialog->isVisible());
    }

    void closeEndsModalShowing() {
        QTimer::singleShot(0, [this] { QTest::mouseClick(child("Close"), Qt::LeftButton); });
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, dialog, &QDialog::accept);
        guard.start(5000);
        QCOMPARE(dialog->exec(), int(QDialog::Rejected));
        QVERIFY(guard.isActive());
        QVERIFY(!dialog->isVisible());
    }

    // Each click hands the address to the desktop again; the dialog stays.
    void opensAddresses_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QUrl>("url");
        QTest::newRow("WebUrl") << "WebUrl" << QUrl(VANTOR_WEBSITE_URL);
        QTest::newRow("LibsassLink") << "LibsassLink" << QUrl(VANTOR_LIBSASS_URL);
    }
    void opensAddresses() {
        QFETCH(QString, name);
        QFETCH(QUrl, url);
        QTest::mouseClick(child(name), Qt::LeftButton);
        QCOMPARE(browser.urls, QList<QUrl>{url});
        QTest::mouseClick(child(name), Qt::LeftButton);
        QCOMPARE(browser.urls, (QList<QUrl>{url, url}));
        QVERIFY(dialog->isVisible());
        // A right click opens nothing.
        QTest::mouseClick(child(name), Qt::RightButton);
        QCOMPARE(browser.urls.size(), 2);
    }

    void linkFromKeyboard() {
        QWidget* link = child("LibsassLink");
        QVERIFY(link->focusPolicy() & Qt::TabFocus);
        link->setFocus();
        QTest::keyClick(link, Qt::Key_Return);
        QCOMPARE(browser.urls, QList<QUrl>{QUrl(VANTOR_LIBSASS_URL)});
    }

    // When the desktop cannot open the address, a message names it.
    void unopenableAddressIsNamed() {
        QDesktopServices::setUrlHandler("https", &browser, "noSuchHandler");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("No such method"));
        QString shown;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            shown = box->text();
            box->accept();
        });
        QTest::mouseClick(child("WebUrl"), Qt::LeftButton);
        QVERIFY2(shown.contains(VANTOR_WEBSITE_URL), qPrintable(shown));
        QVERIFY(dialog->isVisible());
    }
};

QTEST_MAIN(TstVantorAbout)
#include "tst_vantorabout.moc"
