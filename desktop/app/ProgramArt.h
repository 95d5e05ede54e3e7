// The program's pictures, drawn from the icon's vector image and in code.
#pragma once

#include <QIcon>
#include <QPixmap>

// The program icon with images of 128, 48, 32 and 16 pixels.
QIcon ProgramIcon();

// The logo beside the banner: 208 x 100 pixels, opaque.
QPixmap ProgramLogo();
