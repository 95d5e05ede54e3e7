#include "QtMessageBox.h"

#include "WideText.h"

#include "platform/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

namespace
{
constexpr UINT kButtonsMask = 0x0F;
constexpr UINT kIconMask = 0xF0;

QMessageBox::Icon IconOf(UINT type)
{
    switch (type & kIconMask)
    {
    case MB_ICONERROR:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONWARNING:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

int ShowOnUiThread(const QString& text, UINT type)
{
    QMessageBox box(IconOf(type), QApplication::applicationName(), text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    switch (type & kButtonsMask)
    {
    case MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        // Closing the box is a No: nothing is agreed to unasked.
        box.setEscapeButton(QMessageBox::No);
        break;
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
    switch (box.exec())
    {
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    case QMessageBox::Cancel:
        return IDCANCEL;
    default:
        return IDOK;
    }
}
} // namespace

int ShowQtMessageBox(LPCWSTR text, UINT type)
{
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr || QThread::currentThread() == application->thread())
        return ShowOnUiThread(FromWide(text), type);
    // Widgets live on the UI thread only: a box raised by a worker (the engine's build)
    // is shown there, and the worker waits for the answer as it would for its own box.
    const QString copy = FromWide(text);
    int answer = IDOK;
    QMetaObject::invokeMethod(
        application, [&answer, &copy, type] { answer = ShowOnUiThread(copy, type); },
        Qt::BlockingQueuedConnection);
    return answer;
}

void InstallQtMessageBoxHandler()
{
    AfxSetMessageBoxHandler(&ShowQtMessageBox);
}
