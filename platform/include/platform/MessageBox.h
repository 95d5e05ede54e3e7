// Message boxes raised below the desktop program. Every box goes through one handler:
// the desktop program installs one that shows a dialog, tests install one that answers
// and records; with none installed the text is written to standard error (UTF-8, one
// line) and the box answers IDOK (IDNO for a Yes/No box, IDCANCEL for an OK/Cancel box,
// so nothing is agreed to unasked). The handler may be swapped from any thread.
#pragma once

#include "platform/WinTypes.h"

#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_YESNO 0x00000004u
#define MB_ICONERROR 0x00000010u
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONWARNING 0x00000030u
#define MB_ICONINFORMATION 0x00000040u

#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7

using MessageBoxHandler = int (*)(LPCWSTR text, UINT type);

// Installs `handler` (null restores the standard-error fallback); returns the previous one.
MessageBoxHandler AfxSetMessageBoxHandler(MessageBoxHandler handler);
int AfxMessageBox(LPCWSTR text, UINT type = MB_OK);
