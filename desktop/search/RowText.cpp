#include "RowText.h"

#include "platform/Time.h"

QString FormatSizeText(LONGLONG size, bool isFolder)
{
    if (isFolder)
        return {};
    if (size > 1024)
        return QStringLiteral("%1 KB").arg(static_cast<ULONGLONG>(size) / 1024);
    return QStringLiteral("1 KB");
}

QString FormatDateText(const FILETIME& lastWriteTime)
{
    SYSTEMTIME universal{};
    SYSTEMTIME local{};
    if (!FileTimeToSystemTime(&lastWriteTime, &universal) ||
        !SystemTimeToTzSpecificLocalTime(/*timeZone=*/nullptr, &universal, &local))
        return {};
    return QString::asprintf("%d-%02d-%02d %02d:%02d:%02d", local.wYear, local.wMonth, local.wDay,
                             local.wHour, local.wMinute, local.wSecond);
}

static QChar FoldAsciiLetter(QChar c)
{
    const char16_t unit = c.unicode();
    return unit >= u'A' && unit <= u'Z' ? QChar(unit - u'A' + u'a') : c;
}

bool KeywordsDiffer(const QString& left, const QString& right)
{
    if (left.size() != right.size())
        return true;
    for (qsizetype i = 0; i < left.size(); ++i)
        if (FoldAsciiLetter(left[i]) != FoldAsciiLetter(right[i]))
            return true;
    return false;
}
