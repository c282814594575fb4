#include "app/toolbarglyphs.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

#include <functional>

namespace {

const QColor kInk(0x1a, 0x4f, 0x8a);

QIcon Drawn(const std::function<void(QPainter&)>& draw)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(2.0, 2.0); // drawn on a 16 x 16 grid
    draw(painter);
    painter.end();
    return QIcon(pixmap);
}

QIcon ViewGlyph(int index)
{
    return Drawn([index](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(kInk);
        switch (index) {
        case 9: // large icons
            for (int y : {1, 9})
                for (int x : {1, 9})
                    p.drawRoundedRect(QRectF(x, y, 6, 6), 1, 1);
            break;
        case 10: // list: two columns of small marks with text lines
            for (int column : {0, 8})
                for (int y : {2, 7, 12}) {
                    p.drawRect(QRectF(column + 1, y, 2, 2));
                    p.drawRect(QRectF(column + 4, y + 0.5, 3, 1));
                }
            break;
        case 11: // small icons: marks in rows
            for (int y : {2, 7, 12})
                for (int x : {1, 6, 11})
                    p.drawRect(QRectF(x, y, 3, 3));
            break;
        default: // details: one mark and a long line per row
            for (int y : {2, 7, 12}) {
                p.drawRect(QRectF(1, y, 2, 2));
                p.drawRect(QRectF(5, y + 0.5, 10, 1));
            }
            break;
        }
    });
}

QIcon RenameGlyph()
{
    return Drawn([](QPainter& p) {
        p.setPen(QPen(kInk, 1.2));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(1.5, 4.5, 13, 7));
        QFont font = p.font();
        font.setPixelSize(7);
        font.setBold(true);
        p.setFont(font);
        p.drawText(QRectF(2, 4.5, 9, 7), Qt::AlignCenter, QStringLiteral("ab"));
        p.drawLine(QPointF(12, 3), QPointF(12, 13));
    });
}

QIcon Themed(const char* name, QStyle::StandardPixmap fallback)
{
    return QIcon::fromTheme(QString::fromLatin1(name), QApplication::style()->standardIcon(fallback));
}

} // namespace

QIcon ToolbarGlyph(int index)
{
    switch (index) {
    case 0:
        return Themed("network-connect", QStyle::SP_DriveNetIcon);
    case 1:
        return Themed("network-disconnect", QStyle::SP_BrowserStop);
    case 2:
        return Themed("go-jump", QStyle::SP_MediaSeekForward);
    case 3:
        return Themed("go-up", QStyle::SP_ArrowUp);
    case 4:
        return Themed("go-down", QStyle::SP_ArrowDown);
    case 5:
        return Themed("edit-delete", QStyle::SP_TrashIcon);
    case 6:
        return Themed("folder-new", QStyle::SP_FileDialogNewFolder);
    case 7:
        return QIcon::fromTheme(QStringLiteral("edit-rename"), RenameGlyph());
    case 8:
        return Themed("dialog-information", QStyle::SP_FileDialogInfoView);
    default:
        return ViewGlyph(index);
    }
}
