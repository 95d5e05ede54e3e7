// COrvaDesktopApp: the application object. It owns the QApplication (program name
// "OrvaDesktop", organisation "Orva"); InitInstance runs the main window modally and
// returns when it closes.
#pragma once

#include "platform/WinTypes.h"

#include <QApplication>

class COrvaDesktopApp final
{
public:
    COrvaDesktopApp(int& argc, char** argv);

    // Installs the message-box handler and runs the main window; FALSE when it closes,
    // as there is no message loop left to run.
    BOOL InitInstance();

private:
    QApplication m_application;
};
