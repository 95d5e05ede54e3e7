#include "OrvaDesktopApp.h"

#include "OrvaDesktopDlg.h"
#include "QtMessageBox.h"

COrvaDesktopApp::COrvaDesktopApp(int& argc, char** argv) : m_application(argc, argv)
{
    QApplication::setApplicationName(QStringLiteral("OrvaDesktop"));
    QApplication::setOrganizationName(QStringLiteral("Orva"));
}

BOOL COrvaDesktopApp::InitInstance()
{
    InstallQtMessageBoxHandler();
    COrvaDesktopDlg mainWindow;
    mainWindow.DoModal();
    return FALSE;
}
