#include "ProgramArt.h"

#include <QFont>
#include <QPainter>
#include <QSvgRenderer>

namespace
{
const QString kIconImage = QStringLiteral(":/orva/orva-desktop.svg");

QPixmap RenderIcon(int size)
{
    QPixmap image(size, size);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    QSvgRenderer(kIconImage).render(&painter, QRectF(0, 0, size, size));
    return image;
}

void DrawLine(QPainter& painter, const QRect& box, int pixelSize, bool bold, const QColor& colour,
              const QString& text)
{
    QFont font = painter.font();
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, text);
}
} // namespace

QIcon ProgramIcon()
{
    QIcon icon;
    for (const int size : {128, 48, 32, 16})
        icon.addPixmap(RenderIcon(size));
    return icon;
}

QPixmap ProgramLogo()
{
    QPixmap logo(208, 100);
    logo.fill(QColor(0xF3, 0xF8, 0xFC));
    QPainter painter(&logo);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(0xB8, 0xD4, 0xE8));
    painter.drawRoundedRect(QRectF(0.5, 0.5, 207, 99), 8, 8);
    painter.drawPixmap(10, 14, RenderIcon(72));
    DrawLine(painter, QRect(92, 10, 112, 38), 30, true, QColor(0x0B, 0x3D, 0x91), QStringLiteral("奥瓦"));
    DrawLine(painter, QRect(92, 48, 112, 24), 18, false, QColor(0x1F, 0x6E, 0xA9),
             QStringLiteral("文件搜索"));
    DrawLine(painter, QRect(92, 72, 112, 18), 11, false, QColor(0x66, 0x77, 0x88),
             QStringLiteral("Orva · Alpha 0.1"));
    return logo;
}
