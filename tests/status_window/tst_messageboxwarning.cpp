#include "messageboxwarning.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

class TestMessageBoxWarning : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void showsModalWarningUntilClosed();
    void showsWithoutWaitingUntilClosed();
};

void TestMessageBoxWarning::showsModalWarningUntilClosed() {
    struct Seen {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
        qsizetype buttonCount = 0;
        bool modal = false;
    } seen;

    // Answer the box from inside its own event loop, as the user would.
    QTimer answer;
    answer.setInterval(10);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        answer.stop();
        seen = {box->icon(),           box->windowTitle(), box->text(), box->standardButtons(),
                box->buttons().size(), box->isModal()};
        box->button(QMessageBox::Ok)->click();
    });
    answer.start();

    Orvex::MessageBoxWarning().show(u"OrvexKelPostJob"_s, u"(GetTokens) Error: x\r\nLine: &a&"_s);

    QCOMPARE(seen.icon, QMessageBox::Warning);
    QCOMPARE(seen.title, u"OrvexKelPostJob"_s);
    QCOMPARE(seen.text, u"(GetTokens) Error: x\r\nLine: &a&"_s);
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(seen.buttonCount, 1);
    QVERIFY(seen.modal);
}

// The box a posting hands to the window's thread: that thread returns at once, runs no loop of its own,
// and the box stays, modal, until the user closes it.
void TestMessageBoxWarning::showsWithoutWaitingUntilClosed() {
    Orvex::MessageBoxWarning().showWithoutWaiting(u"OrvexKelPostJob"_s, u"(GetTokens) Error: y"_s);
    QTRY_VERIFY(qobject_cast<QMessageBox *>(QApplication::activeModalWidget()));
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QCOMPARE(box->text(), u"(GetTokens) Error: y"_s);
    QPointer<QMessageBox> watched(box);
    box->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(!watched);
}

QTEST_MAIN(TestMessageBoxWarning)
#include "tst_messageboxwarning.moc"
