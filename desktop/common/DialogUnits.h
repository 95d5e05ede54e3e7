// Dialog units: the coordinates the window layouts are written in, converted to pixels
// from the dialog font's base units as Windows does. The horizontal base unit is the
// average width of the Latin letters in the font, the vertical one the font's line
// height; a dialog unit is a quarter of the first and an eighth of the second.
//
//     base units 7 x 16: (7, 117, 548, 259) -> (12, 234, 959, 518)
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

QSize DialogBaseUnits(const QFont& dialogFont);

// Rounds each converted coordinate to the nearest pixel.
QRect DialogUnitsToPixels(const QRect& dialogUnits, const QSize& baseUnits);
QSize DialogUnitsToPixels(const QSize& dialogUnits, const QSize& baseUnits);

// The fonts the templates name, as this platform has them: "MS Shell Dlg" 9 pt is the
// sans-serif user-interface font, "宋体" 9 pt the Song (serif) CJK face.
QFont ShellDialogFont();
QFont SongDialogFont();
