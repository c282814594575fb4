#include "profiles/profilelist.h"

#include "profiles/accountstore.h"

#include <QApplication>
#include <QListWidget>
#include <QStyle>

QListWidget* MakeProfileList(QWidget* parent, const QString& objectName)
{
    auto* list = new QListWidget(parent);
    list->setObjectName(objectName);
    list->setViewMode(QListView::ListMode);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setUniformItemSizes(true);
    list->setMinimumWidth(150);
    return list;
}

void FillProfileList(QListWidget& list, const TProfileHooks& hooks)
{
    const QIcon icon = hooks.ProfileIcon.isNull() ? QApplication::style()->standardIcon(QStyle::SP_DriveNetIcon)
                                                  : hooks.ProfileIcon;
    const QStringList names = ProfileNames(hooks.Folder);
    list.setUpdatesEnabled(false);
    list.clear();
    for (const QString& name : names)
        new QListWidgetItem(icon, name, &list);
    list.setUpdatesEnabled(true);
}

QString SelectedProfileName(const QListWidget& list)
{
    QString name;
    for (int i = 0; i < list.count(); ++i)
        if (list.item(i)->isSelected())
            name = list.item(i)->text();
    return name;
}
