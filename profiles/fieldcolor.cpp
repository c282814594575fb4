#include "profiles/fieldcolor.h"

#include <QColor>
#include <QLineEdit>
#include <QPalette>

namespace {

void Paint(QLineEdit& field, const QColor& background)
{
    QPalette palette = field.palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, background);
        // A dark theme's light text would vanish on these backgrounds.
        palette.setColor(group, QPalette::Text, group == QPalette::Disabled ? QColor(96, 96, 96) : QColor(Qt::black));
    }
    field.setPalette(palette);
}

} // namespace

void PaintFieldWhite(QLineEdit& field) { Paint(field, QColor(Qt::white)); }

void PaintFieldSilver(QLineEdit& field) { Paint(field, QColor(192, 192, 192)); }
