// The message-box handler of the desktop program: every AfxMessageBox of the program
// (and of the layers below it) becomes a modal QMessageBox with the program's name as
// its caption. Tests install a handler of their own instead.
#pragma once

#include "platform/WinTypes.h"

// Shows `text` with the buttons and icon of `type` (MB_OK, MB_OKCANCEL or MB_YESNO, with
// an MB_ICON* value); returns IDOK, IDCANCEL, IDYES or IDNO.
int ShowQtMessageBox(LPCWSTR text, UINT type);

void InstallQtMessageBoxHandler();
