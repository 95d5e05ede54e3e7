#include "DialogUnits.h"

#include <QFontMetrics>
#include <QStringList>

namespace
{
// Multiplies and divides with rounding to the nearest integer, as MulDiv does.
int MulDiv(int value, int numerator, int denominator)
{
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

QFont DialogFont(const QStringList& families)
{
    QFont font;
    font.setFamilies(families);
    font.setPointSize(9);
    return font;
}
} // namespace

QSize DialogBaseUnits(const QFont& dialogFont)
{
    const QFontMetrics metrics(dialogFont);
    const int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // The width of the 52 letters divided by 26, halved with rounding.
    return {(letters / 26 + 1) / 2, metrics.height()};
}

QRect DialogUnitsToPixels(const QRect& dialogUnits, const QSize& baseUnits)
{
    const int left = MulDiv(dialogUnits.x(), baseUnits.width(), 4);
    const int top = MulDiv(dialogUnits.y(), baseUnits.height(), 8);
    const int right = MulDiv(dialogUnits.x() + dialogUnits.width(), baseUnits.width(), 4);
    const int bottom = MulDiv(dialogUnits.y() + dialogUnits.height(), baseUnits.height(), 8);
    return {left, top, right - left, bottom - top};
}

QSize DialogUnitsToPixels(const QSize& dialogUnits, const QSize& baseUnits)
{
    return {MulDiv(dialogUnits.width(), baseUnits.width(), 4),
            MulDiv(dialogUnits.height(), baseUnits.height(), 8)};
}

QFont ShellDialogFont()
{
    return DialogFont({QStringLiteral("MS Shell Dlg"), QStringLiteral("Noto Sans"),
                       QStringLiteral("Noto Sans CJK SC"), QStringLiteral("DejaVu Sans")});
}

QFont SongDialogFont()
{
    return DialogFont({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
                       QStringLiteral("Noto Sans CJK SC")});
}
