#pragma once
// The list of file-name extensions that folder downloads skip, each an
// `excluded_download_extension` item of the store. At most one dialog is open
// (excludedExtensionsDialog); it deletes itself when closed.
#include "Data.h"
#include <QDialog>
#include <memory>

class QLineEdit;
class QListWidget;
class QPushButton;

class Ui_ExcludedExtensionsDialog {
public:
    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);

    QListWidget* extensionListWidget;
    QLineEdit* newExtensionEdit;
    QPushButton* newExtensionButton;
};

class ExcludedExtensionsDialog : public QDialog, public DataHandler {
    Q_OBJECT
public:
    explicit ExcludedExtensionsDialog(QWidget* parent = nullptr);
    ~ExcludedExtensionsDialog() override;

    Ui_ExcludedExtensionsDialog* Form() const { return m_ui.get(); }

public slots:
    void OnNewExtensionButtonClicked();
    void OnExtensionListContextMenuRequested(QPoint pos);
    void OnRemoveExcludedExtension();

private:
    void OnExtensionAdded(ItemPtr item);

    std::unique_ptr<Ui_ExcludedExtensionsDialog> m_ui;
    Type* m_type;
};

extern ExcludedExtensionsDialog* excludedExtensionsDialog;
