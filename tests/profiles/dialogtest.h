#pragma once

// Helpers shared by the dialog tests.

#include <QApplication>
#include <QListWidget>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

template <typename T>
T* Child(const QWidget& parent, const char* name)
{
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr)
        ADD_FAILURE() << "no control " << name;
    return child;
}

inline void ShowAndSettle(QWidget& window)
{
    window.show();
    QApplication::processEvents();
}

// Clicks the list item with that text, as the user would.
inline void ClickItem(QListWidget& list, const QString& text)
{
    const QList<QListWidgetItem*> items = list.findItems(text, Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1) << text.toStdString();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(items.first()).center());
}

inline QStringList ItemTexts(const QListWidget& list)
{
    QStringList texts;
    for (int i = 0; i < list.count(); ++i)
        texts << list.item(i)->text();
    return texts;
}
