#include "QtMessageBox.h"

#include "platform/MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>

namespace
{
// Presses `button` on the message box once it is open, noting its caption, text and icon.
struct Answerer
{
    QMessageBox::StandardButton button;
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QMessageBox::StandardButton> offered;

    void ArmFor(int attempts = 50)
    {
        QTimer::singleShot(20,
                           [this, attempts]
                           {
                               auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                               if (box == nullptr)
                               {
                                   if (attempts > 0)
                                       ArmFor(attempts - 1);
                                   return;
                               }
                               caption = box->windowTitle();
                               text = box->text();
                               icon = box->icon();
                               for (QAbstractButton* b : box->buttons())
                                   offered.append(box->standardButton(b));
                               box->button(button)->click();
                           });
    }
};
} // namespace

class QtMessageBoxTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QApplication::setApplicationName(QStringLiteral("OrvaDesktop"));
        InstallQtMessageBoxHandler();
    }

    void yesNoQuestionAnswersWithTheButtonPressed_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("expected");
        QTest::newRow("yes") << int(QMessageBox::Yes) << IDYES;
        QTest::newRow("no") << int(QMessageBox::No) << IDNO;
    }
    void yesNoQuestionAnswersWithTheButtonPressed()
    {
        QFETCH(int, button);
        QFETCH(int, expected);
        Answerer answerer{QMessageBox::StandardButton(button)};
        answerer.ArmFor();
        QCOMPARE(AfxMessageBox(u"是否立即启用？", MB_YESNO | MB_ICONQUESTION), expected);
        QCOMPARE(answerer.caption, QStringLiteral("OrvaDesktop"));
        QCOMPARE(answerer.text, QStringLiteral("是否立即启用？"));
        QCOMPARE(answerer.icon, QMessageBox::Question);
        QCOMPARE(answerer.offered.size(), 2);
    }

    // The engine's build raises its box on a worker thread: a widget made there would crash Qt.
    void boxRaisedOnAWorkerThreadIsShownByTheUiThread()
    {
        Answerer answerer{QMessageBox::Ok};
        answerer.ArmFor();
        int answer = 0;
        std::unique_ptr<QThread> worker(QThread::create([&] { answer = AfxMessageBox(u"EQU", MB_OK); }));
        worker->start();
        while (!worker->isFinished())
            QTest::qWait(10);
        QCOMPARE(answer, IDOK);
        QCOMPARE(answerer.text, QStringLiteral("EQU"));
    }

    void plainBoxOffersOnlyOk()
    {
        Answerer answerer{QMessageBox::Ok};
        answerer.ArmFor();
        QCOMPARE(AfxMessageBox(u"点击广告", MB_OK), IDOK);
        QCOMPARE(answerer.offered, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
        QCOMPARE(answerer.icon, QMessageBox::NoIcon);
    }
};

QTEST_MAIN(QtMessageBoxTest)
#include "QtMessageBoxTest.moc"
