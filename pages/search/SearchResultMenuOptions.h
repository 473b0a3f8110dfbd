#pragma once
// The result entries of a results tab's context menu: download the selected
// files, download the whole folders of the selected rows, browse the folder in
// the user's share. Made on the stack for one menu, over the row under the
// cursor; its slots run while the menu is open.
#include "store/ItemPtr.h"
#include <QObject>
#include <QPointer>
#include <QString>
#include <string>

class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

class SearchResultMenuOptions : public QObject {
    Q_OBJECT
public:
    SearchResultMenuOptions(QMenu* menu, QTreeWidgetItem* row, QObject* parent = nullptr);
    ~SearchResultMenuOptions() override;

    const QString& SearchText() const { return m_searchText; }
    const QString& User() const { return m_user; }

public slots:
    void OnDownloadFile();
    void OnDownloadFolder();
    void OnBrowseFolder();

private:
    QTreeWidget* m_tree = nullptr;
    QTreeWidgetItem* m_row;
    QString m_searchText;
    QString m_user;
    std::string m_folder; // as the peer sent it
};
