// OrvaDesktop: finds files by name on the configured NTFS volumes. Takes no arguments;
// its settings file is OrvaDesktop.ini in the current directory.
#include "OrvaDesktopApp.h"

int main(int argc, char** argv)
{
    COrvaDesktopApp application(argc, argv);
    application.InitInstance();
    return 0;
}
