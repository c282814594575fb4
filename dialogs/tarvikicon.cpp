#include "dialogs/tarvikicon.h"

#include <QPainter>

// Q_INIT_RESOURCE must be used outside any namespace; the resource lives in
// a static library, so nothing registers it before the first use.
static void InitTarvikResources() { Q_INIT_RESOURCE(tarvik_dialogs); }

namespace {

QPixmap DrawnFallback(int size)
{
    // Used only when the SVG image plugin is missing.
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x2f, 0x7f, 0xc8));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(1, 1, size - 2, size - 2), size / 6.0, size / 6.0);
    painter.setBrush(QColor(0xff, 0xd9, 0x66));
    painter.drawRect(QRectF(size * 0.16, size * 0.45, size * 0.68, size * 0.4));
    return pixmap;
}

} // namespace

QPixmap TarvikPixmap(int size)
{
    InitTarvikResources();
    const QIcon icon(QStringLiteral(":/tarvik/tarvik.svg"));
    QPixmap pixmap = icon.pixmap(size, size);
    if (pixmap.isNull())
        return DrawnFallback(size);
    return pixmap;
}

QIcon TarvikIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(TarvikPixmap(size));
    return icon;
}
