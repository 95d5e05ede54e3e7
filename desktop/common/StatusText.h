// The status-text message: how any thread puts a text into the main window's status
// bar. The main window has a slot `OnSetStatusText(QString)`; a sender on another thread
// waits until the text is shown (so it may drop its text as soon as the call returns),
// and a sender on the UI thread calls the slot directly.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QThread>

// 0x501: the number the message has always had; kept for logs and tests.
inline constexpr unsigned WM_SETSTATUSTEXT = 0x501;

inline void SendStatusText(QObject* mainWindow, const QString& text)
{
    if (mainWindow == nullptr)
        return;
    const auto connection = QThread::currentThread() == mainWindow->thread() ? Qt::DirectConnection
                                                                             : Qt::BlockingQueuedConnection;
    QMetaObject::invokeMethod(mainWindow, "OnSetStatusText", connection, Q_ARG(QString, text));
}
