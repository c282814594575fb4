#include "app/splash.h"

#include "dialogs/tarvikicon.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>

TSplashForm::TSplashForm(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("SplashForm"));
    setFixedSize(406, 243);
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

void TSplashForm::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), Qt::black);

    // Raised inner bevel.
    const QRect inner = rect().adjusted(6, 6, -7, -7);
    p.setPen(QColor(0x80, 0x80, 0x80));
    p.drawLine(inner.topLeft(), inner.topRight());
    p.drawLine(inner.topLeft(), inner.bottomLeft());
    p.setPen(QColor(0x30, 0x30, 0x30));
    p.drawLine(inner.bottomLeft(), inner.bottomRight());
    p.drawLine(inner.topRight(), inner.bottomRight());

    // First picture: the program icon on a blue glow.
    QRadialGradient glow(QPointF(100, 118), 90);
    glow.setColorAt(0, QColor(0x2f, 0x7f, 0xc8, 160));
    glow.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillRect(QRect(10, 28, 180, 180), glow);
    p.drawPixmap(QRect(52, 70, 96, 96), TarvikPixmap(96));

    // Second picture: the product name.
    QFont title = font();
    title.setPixelSize(44);
    title.setBold(true);
    p.setFont(title);
    QLinearGradient ink(QPointF(0, 80), QPointF(0, 130));
    ink.setColorAt(0, QColor(0xff, 0xe0, 0x80));
    ink.setColorAt(1, QColor(0xf5, 0xa5, 0x20));
    p.setPen(QPen(QBrush(ink), 1));
    p.drawText(QRect(180, 70, 210, 60), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Tarvik"));
    QFont line = font();
    line.setPixelSize(15);
    p.setFont(line);
    p.setPen(QColor(0xd0, 0xd8, 0xe8));
    p.drawText(QRect(182, 130, 210, 24), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("FTP Client"));
    line.setPixelSize(11);
    p.setFont(line);
    p.setPen(QColor(0x90, 0x98, 0xa8));
    p.drawText(QRect(10, 208, 386, 20), Qt::AlignCenter, QStringLiteral("Veltrane - Software Tools for the Web"));
}
