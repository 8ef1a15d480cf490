#include "TextUtil.h"

#include <QTextDocument>
#include <QtTest>

using pelorin::secondsText;

class TstTextUtil : public QObject {
    Q_OBJECT

private slots:
    void seconds_data() {
        QTest::addColumn<int>("ms");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << "en_US" << "0";
        QTest::newRow("15") << 15 << "en_US" << "0.015";
        QTest::newRow("999") << 999 << "en_US" << "0.999";
        QTest::newRow("1000") << 1000 << "en_US" << "1";
        QTest::newRow("1500") << 1500 << "en_US" << "1.5";
        QTest::newRow("no grouping") << 1234567 << "en_US" << "1234.567";
        QTest::newRow("seven digits") << 123456789 << "en_US" << "123456.8";
        QTest::newRow("German 15") << 15 << "de_DE" << "0,015";
        QTest::newRow("German no grouping") << 1234567 << "de_DE" << "1234,567";
        QTest::newRow("C locale") << 2 << "C" << "0.002";
    }
    void seconds() {
        QFETCH(int, ms);
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QCOMPARE(secondsText(ms, QLocale(locale)), text);
    }

    void documentTextKeepsNoBreakSpaces() {
        QTextDocument doc;
        doc.setPlainText(QString::fromUtf8("a {\n  content: \"x\u00a0y\";\n}"));
        QCOMPARE(pelorin::documentText(doc), QString::fromUtf8("a {\n  content: \"x\u00a0y\";\n}"));
        doc.setPlainText(QString());
        QCOMPARE(pelorin::documentText(doc), QString());
    }
};

QTEST_GUILESS_MAIN(TstTextUtil)
#include "tst_textutil.moc"
