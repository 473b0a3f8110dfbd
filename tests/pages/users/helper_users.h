#pragma once
// Small lookups shared by the users pages' tests.
#include "store/ItemPtr.h"
#include <QString>
#include <QStringList>

class QTreeWidget;
class QTreeWidgetItem;

// The user item, or a null handle; never creates it.
ItemPtr FindUser(const QString& name);
// The users of a list's rows, top to bottom.
QStringList Names(QTreeWidget* list);
// The row of the user, or null.
QTreeWidgetItem* Row(QTreeWidget* list, const QString& name);
// Whether the row shows the online (true) or offline icon.
bool ShowsOnline(QTreeWidgetItem* row);
bool ShowsOffline(QTreeWidgetItem* row);
// The user menu's "Add user to list" for the user.
void AddToList(const QString& user);
// The texts of the user menu for the user (separators as "-", submenus as
// "name>" followed by their entries and "<"), with a page entry first when
// given.
QStringList MenuTexts(const QString& user, const QString& pageEntry = QString());
