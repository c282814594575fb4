#include "profiles/accountstore.h"

#include "app/appfolder.h"
#include "dialogs/prompts.h"

#include <QComboBox>

QString AccountFolder() { return appfolder::ApplicationFolder(); }

TRegistrySet AccountStore(const QString& folder)
{
    const QString where = folder.isEmpty() ? AccountFolder() : folder;
    return TRegistrySet(where.toStdString(), [](const std::string& caption, const std::string& text) {
        Prompts().Notice(QString::fromStdString(caption), QString::fromStdString(text), 0);
    });
}

QStringList ProfileNames(const QString& folder)
{
    std::vector<std::string> names;
    AccountStore(folder).GetProfileNames(names);
    QStringList list;
    list.reserve(qsizetype(names.size()));
    for (const std::string& name : names)
        list.append(QString::fromStdString(name));
    return list;
}

void FillQuickConnectList(QComboBox& combo, const QString& folder)
{
    combo.clear();
    combo.addItems(ProfileNames(folder));
    combo.setCurrentIndex(combo.count() > 0 ? 0 : -1);
}
