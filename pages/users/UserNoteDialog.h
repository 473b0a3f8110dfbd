#pragma once
// The editor of one user's note: at most one per user, found again through the
// user's "user_note_dialog" item. Notes are plain text. Saving an empty note
// removes it; a note item that no user holds any more is removed, so the data
// file keeps no orphans.
#include <QDialog>
#include <QString>

class QPushButton;
class QTextEdit;

class UserNoteDialog : public QDialog {
    Q_OBJECT
public:
    // Declares the type that remembers each user's open editor.
    static void Init();
    // The user's editor, created (not shown) when there is none; an open one
    // is activated.
    static UserNoteDialog* GetDialog(const QString& userName);

    UserNoteDialog(QString userName, QWidget* parent = nullptr);
    ~UserNoteDialog() override;

    QTextEdit* NoteEdit() const { return m_noteEdit; }
    QPushButton* SaveButton() const { return m_saveButton; }
    QPushButton* ClearButton() const { return m_clearButton; }

    // Connects the user to the note of that text (disconnects it for an
    // empty one), removing the old note item when no user holds it any more.
    static void SetUserNote(const QString& userName, const QString& text);

public slots:
    void OnSaveNote();
    void OnClearNote();

private:
    QString m_userName;
    QTextEdit* m_noteEdit;
    QPushButton* m_saveButton;
    QPushButton* m_clearButton;
};
