#include "ExcludedExtensionsDialog.h"
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

ExcludedExtensionsDialog* excludedExtensionsDialog = nullptr;

static const char kType[] = "excluded_download_extension";

void Ui_ExcludedExtensionsDialog::setupUi(QDialog* dialog)
{
    dialog->setObjectName("ExcludedExtensionsDialog");
    dialog->resize(259, 271);
    auto* layout = new QVBoxLayout(dialog);
    extensionListWidget = new QListWidget(dialog);
    extensionListWidget->setObjectName("extensionListWidget");
    extensionListWidget->setSortingEnabled(true);
    extensionListWidget->setSelectionMode(QAbstractItemView::ExtendedSelection);
    extensionListWidget->setContextMenuPolicy(Qt::CustomContextMenu);
    layout->addWidget(extensionListWidget);
    newExtensionEdit = new QLineEdit(dialog);
    newExtensionEdit->setObjectName("newExtensionEdit");
    layout->addWidget(newExtensionEdit);
    auto* row = new QHBoxLayout;
    newExtensionButton = new QPushButton(dialog);
    newExtensionButton->setObjectName("newExtensionButton");
    row->addWidget(newExtensionButton);
    layout->addLayout(row);
    retranslateUi(dialog);
}

void Ui_ExcludedExtensionsDialog::retranslateUi(QDialog* dialog)
{
    dialog->setWindowTitle(QDialog::tr("Excluded Download Extensions"));
    newExtensionButton->setText(QDialog::tr("New Excluded Extension"));
}

ExcludedExtensionsDialog::ExcludedExtensionsDialog(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui_ExcludedExtensionsDialog>())
    // Declared by the transfer engine; declared here too for a dialog shown
    // before it (keeps its flags when it exists).
    , m_type(d.DeclareType(kType, kEntity))
{
    excludedExtensionsDialog = this;
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    Subscribe(m_type->itemAdded, &ExcludedExtensionsDialog::OnExtensionAdded);
    for (ItemPtr item : m_type->GetItems())
        m_ui->extensionListWidget->addItem(item.AsString());
    connect(m_ui->extensionListWidget, &QListWidget::customContextMenuRequested, this,
        &ExcludedExtensionsDialog::OnExtensionListContextMenuRequested);
    connect(m_ui->newExtensionButton, &QPushButton::clicked, this, &ExcludedExtensionsDialog::OnNewExtensionButtonClicked);
    // Opened to add one: the name is typed at once, Return adds it.
    m_ui->newExtensionEdit->setFocus();
}

ExcludedExtensionsDialog::~ExcludedExtensionsDialog()
{
    if (excludedExtensionsDialog == this)
        excludedExtensionsDialog = nullptr;
}

void ExcludedExtensionsDialog::OnExtensionAdded(ItemPtr item) { m_ui->extensionListWidget->addItem(item.AsString()); }

void ExcludedExtensionsDialog::OnNewExtensionButtonClicked()
{
    const QString text = m_ui->newExtensionEdit->text().trimmed();
    m_ui->newExtensionEdit->clear();
    if (text.isEmpty())
        return;
    m_type->GetItem(Value(text));
}

void ExcludedExtensionsDialog::OnExtensionListContextMenuRequested(QPoint pos)
{
    if (!m_ui->extensionListWidget->itemAt(pos))
        return;
    QMenu menu(this);
    menu.addAction(tr("Remove"), this, &ExcludedExtensionsDialog::OnRemoveExcludedExtension);
    menu.exec(m_ui->extensionListWidget->viewport()->mapToGlobal(pos));
}

void ExcludedExtensionsDialog::OnRemoveExcludedExtension()
{
    // The dialog does not follow removals, so the selected rows stay valid
    // while their items go.
    for (QListWidgetItem* row : m_ui->extensionListWidget->selectedItems()) {
        m_type->HasItem(Value(row->text())).Remove();
        delete row;
    }
}
