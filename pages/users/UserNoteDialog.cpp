#include "UserNoteDialog.h"
#include "shell/Kit.h"
#include "store/Data.h"
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {

ItemPtr UserItem(const QString& name)
{
    return d.GetType("user")->GetItem(Value(name));
}

void RemoveIfOrphan(ItemPtr note)
{
    if (note && !note.IsConnected("user"))
        note.Remove();
}

} // namespace

void UserNoteDialog::Init()
{
    Type* type = d.DeclareType("user_note_dialog", kEntity, false, true);
    d.RelateTypes(type, d.GetType("user"), One, One);
}

UserNoteDialog* UserNoteDialog::GetDialog(const QString& userName)
{
    const ItemPtr user = UserItem(userName);
    if (ItemPtr open = user["user_note_dialog"]) {
        auto* dialog = open.AsPointer<UserNoteDialog>();
        dialog->activateWindow();
        return dialog;
    }
    auto* dialog = new UserNoteDialog(userName, nullptr);
    user.Connect(d.GetType("user_note_dialog")->GetItem(Value(dialog)));
    return dialog;
}

UserNoteDialog::UserNoteDialog(QString userName, QWidget* parent)
    : QDialog(parent)
    , m_userName(std::move(userName))
{
    setObjectName(QStringLiteral("UserNoteDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(400, 300);
    auto* layout = new QVBoxLayout(this);
    m_noteEdit = new QTextEdit(this);
    m_noteEdit->setObjectName(QStringLiteral("noteEdit"));
    m_noteEdit->setAcceptRichText(false);
    layout->addWidget(m_noteEdit);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_saveButton = new QPushButton(tr("Save"), this);
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    buttons->addWidget(m_saveButton);
    m_clearButton = new QPushButton(tr("Clear"), this);
    m_clearButton->setObjectName(QStringLiteral("clearButton"));
    buttons->addWidget(m_clearButton);
    buttons->addStretch();
    layout->addLayout(buttons);
    connect(m_saveButton, &QPushButton::clicked, this, &UserNoteDialog::OnSaveNote);
    connect(m_clearButton, &QPushButton::clicked, this, &UserNoteDialog::OnClearNote);

    // The note is plain text: markup in it is shown and saved as typed.
    if (ItemPtr note = UserItem(m_userName)["user_note"])
        m_noteEdit->setPlainText(note.AsString());
    setWindowIcon(QIcon(QStringLiteral(":/icons/note_icon")));
    setWindowTitle(ElidedLabel(IsolatedText(m_userName), fontMetrics()));
}

UserNoteDialog::~UserNoteDialog()
{
    if (Type* type = d.HasType("user_note_dialog"))
        type->HasItem(Value(this)).Remove();
}

void UserNoteDialog::SetUserNote(const QString& userName, const QString& text)
{
    const ItemPtr user = UserItem(userName);
    const ItemPtr old = user["user_note"];
    if (text.isEmpty())
        user.Disconnect("user_note");
    else
        user.Connect(d.GetType("user_note")->GetItem(Value(text)));
    if (old != user["user_note"])
        RemoveIfOrphan(old);
}

void UserNoteDialog::OnSaveNote()
{
    SetUserNote(m_userName, m_noteEdit->toPlainText().trimmed());
    accept();
}

void UserNoteDialog::OnClearNote()
{
    m_noteEdit->clear();
}
