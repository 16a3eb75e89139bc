#include "frmpostjob.h"
#include "programicon.h"

#include <QAbstractTextDocumentLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

using namespace Qt::StringLiterals;

class TestFrmPostJob : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void appearance();
    void startsHidden();
    void textStates_data();
    void textStates();
    void boxCatchesUpInTheEventLoop();
    void windowThatNeverPaintsShowsTheLatestTextWhenAsked();
    void longLinesWrap();
    void readOnlyButSelectable();
    void closingUnloads();
    void unloadUnloads();
};

void TestFrmPostJob::appearance() {
    frmPostJob window;
    QCOMPARE(window.windowTitle(), u"Form1"_s);
    QCOMPARE(window.size(), QSize(312, 129));
    QCOMPARE(window.font().family(), u"Tahoma"_s);
    QCOMPARE(window.font().pointSizeF(), 8.25);
    QCOMPARE(window.font().weight(), QFont::Normal);
    QVERIFY(!window.font().italic() && !window.font().underline() && !window.font().strikeOut());

    const QImage icon = window.windowIcon().pixmap(16, 16).toImage();
    QCOMPARE(icon.size(), QSize(16, 16));
    QCOMPARE(icon, Orvex::programIcon().pixmap(16, 16).toImage());

    const auto boxes = window.findChildren<QPlainTextEdit *>();
    QCOMPARE(boxes.size(), 1);
    QPlainTextEdit *box = boxes.first();
    QCOMPARE(box->objectName(), u"txtStatus"_s);
    QCOMPARE(box, &window.textBox());
    QCOMPARE(box->geometry(), QRect(19, 17, 278, 90));
    QCOMPARE(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(box->font(), window.font());
    QVERIFY(box->toPlainText().isEmpty());
    QVERIFY(window.statusText().isEmpty());
}

void TestFrmPostJob::startsHidden() {
    // Its owner shows it: the server at the first creation.
    frmPostJob window;
    QVERIFY(!window.isVisible());
}

void TestFrmPostJob::textStates_data() {
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<QStringList>("shownLines");

    QTest::newRow("posting line") << QStringList{u"Posting J1"_s} << u"Posting J1"_s
                                  << QStringList{u"Posting J1"_s};
    QTest::newRow("posting then posted")
        << QStringList{u"Posting J1"_s, u"Posting J1\r\nPosted J1"_s} << u"Posting J1\r\nPosted J1"_s
        << QStringList{u"Posting J1"_s, u"Posted J1"_s};
    QTest::newRow("next exchange replaces both lines")
        << QStringList{u"Posting J1"_s, u"Posting J1\r\nPosted J1"_s, u"Posting J2"_s} << u"Posting J2"_s
        << QStringList{u"Posting J2"_s};
    QTest::newRow("job code with a line break on two lines")
        << QStringList{u"Posting A\r\nB"_s} << u"Posting A\r\nB"_s << QStringList{u"Posting A"_s, u"B"_s};
    QTest::newRow("no job code") << QStringList{u"Posting "_s} << u"Posting "_s << QStringList{u"Posting "_s};
}

void TestFrmPostJob::textStates() {
    QFETCH(QStringList, writes);
    QFETCH(QString, statusText);
    QFETCH(QStringList, shownLines);

    frmPostJob window;
    for (const QString &text : writes)
        window.setStatusText(text);
    QCOMPARE(window.statusText(), statusText);
    QCOMPARE(window.textBox().toPlainText().split(u'\n'), shownLines);
}

void TestFrmPostJob::boxCatchesUpInTheEventLoop() {
    frmPostJob window;
    auto *box = window.findChild<QPlainTextEdit *>(u"txtStatus"_s);
    QVERIFY(box);
    window.setStatusText(u"Posting J1"_s);
    window.setStatusText(window.statusText() + u"\r\nPosted J1"_s);
    QTRY_COMPARE(box->toPlainText(), u"Posting J1\nPosted J1"_s);
}

void TestFrmPostJob::windowThatNeverPaintsShowsTheLatestTextWhenAsked() {
    frmPostJob window;
    window.setUpdatesEnabled(false);
    window.setStatusText(u"Posting J1"_s);
    window.setStatusText(window.statusText() + u"\r\nPosted J1"_s);
    QCoreApplication::processEvents();
    QCOMPARE(window.textBox().toPlainText(), u"Posting J1\nPosted J1"_s);
    window.setStatusText(u"Posting J2"_s);
    QCOMPARE(window.textBox().toPlainText(), u"Posting J2"_s);
}

void TestFrmPostJob::longLinesWrap() {
    frmPostJob window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.setStatusText(u"Posting "_s + QString(200, u'x') + u" "_s + QString(40, u'y'));
    QTRY_VERIFY(window.textBox().document()->firstBlock().layout()->lineCount() > 1);
    QCOMPARE(window.textBox().document()->blockCount(), 1);
}

void TestFrmPostJob::readOnlyButSelectable() {
    frmPostJob window;
    window.setStatusText(u"Posting J1\r\nPosted J1"_s);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QPlainTextEdit &box = window.textBox();
    box.setFocus();
    QTRY_VERIFY(box.hasFocus());

    QTest::keyClicks(&box, u"typed"_s);
    QTest::keyClick(&box, Qt::Key_Backspace);
    QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(box.toPlainText(), u"Posting J1\nPosted J1"_s);
    QCOMPARE(window.statusText(), u"Posting J1\r\nPosted J1"_s);

    QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(box.textCursor().selectedText(), u"Posting J1\u2029Posted J1"_s);
}

void TestFrmPostJob::closingUnloads() {
    frmPostJob window;
    QSignalSpy unloads(&window, &frmPostJob::unloaded);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.close());
    QCOMPARE(unloads.size(), 1);
    QVERIFY(!window.isVisible());
}

void TestFrmPostJob::unloadUnloads() {
    frmPostJob window;
    QSignalSpy unloads(&window, &frmPostJob::unloaded);
    // A release unloads the window even when it was never shown.
    window.unload();
    QCOMPARE(unloads.size(), 1);
    window.show();
    window.unload();
    QCOMPARE(unloads.size(), 2);
    QVERIFY(!window.isVisible());
}

QTEST_MAIN(TestFrmPostJob)
#include "tst_frmpostjob.moc"
