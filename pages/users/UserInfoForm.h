#pragma once
// One user's information as the user's client answered it: upload slots,
// whether a slot is free, queued uploads, the picture and the description.
//
// One reply is shown for each request; replies nobody asked for are dropped
// unread. The picture is decoded on a worker within bounds (PictureDecoder);
// one that is too large or can't be read is left out and the tab says so above
// the description.
//
// The description is shown with its markup, made safe and bounded first
// (RichTextBound), and the view loads nothing by itself: the received picture
// is the only resource it is given, and links open in the browser only for
// http and https. A form whose tab was closed is
// detached first, so no late reply or failure reaches it.
#include "shell/PictureDecoder.h"
#include <QImage>
#include <QString>
#include <QTextBrowser>
#include <QWidget>

class QLineEdit;
template <typename T> class QFutureWatcher;

// The text view of a user-information tab: it serves the received picture and
// a blank for anything else the text asks for, so nothing is ever read from
// the local disk.
class UserInfoBrowser : public QTextBrowser {
    Q_OBJECT
public:
    explicit UserInfoBrowser(QWidget* parent = nullptr);
    void SetPicture(const QImage& image) { m_picture = image; }
    QVariant loadResource(int type, const QUrl& name) override;
    // How many times the document asked for something other than the picture.
    int RefusedLoads() const { return m_refused; }

private slots:
    void OnAnchorClicked(const QUrl& url);

private:
    QImage m_picture;
    int m_refused = 0;
};

class UserInfoForm : public QWidget {
    Q_OBJECT
public:
    explicit UserInfoForm(QWidget* parent = nullptr);
    // Cancels the decoding of a picture not shown yet.
    ~UserInfoForm() override;
    // Starts the request for the user's information.
    void Init(const QString& user);
    // Stops listening to the peer network and cancels the decoding of a
    // picture not shown yet (the tab is being closed).
    void Detach();

    QString User() const { return m_user; }
    bool IsWaiting() const { return m_waiting; }
    QLineEdit* UploadSlotsEdit() const { return m_uploadSlotsEdit; }
    QLineEdit* FreeToUploadEdit() const { return m_freeToUploadEdit; }
    QLineEdit* QueuedUploadsEdit() const { return m_queuedUploadsEdit; }
    UserInfoBrowser* UserInfoText() const { return m_userInfoText; }

    // The largest picture shown unscaled.
    static constexpr int kMaxPictureWidth = 800;
    static constexpr int kMaxPictureHeight = 400;

public slots:
    void OnUserInfoReceived(QString user, QString description, bool hasPicture, char* picture, int pictureLength,
        int uploadSlots, int queuedUploads, bool freeToUpload);
    void OnConnectionToUserFailed(QString user, QString connectionType);

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void OnPictureDecoded();

private:
    // What a reply said, kept while its picture is decoded.
    struct Reply {
        QString description;
        bool hasPicture = false;
        int pictureLength = 0;
        int uploadSlots = 0;
        int queuedUploads = 0;
        bool freeToUpload = false;
    };
    // Shows the reply with its picture, or says why the picture is not shown.
    void Show(const QImage& image, const QString& refusal);
    void RaiseEvent(const QString& sound);

    QString m_user;
    bool m_waiting = false;
    // A request is out that no reply has answered yet.
    bool m_asked = false;
    Reply m_reply;
    QFutureWatcher<PictureDecoder::Result>* m_decoding;
    QLineEdit* m_uploadSlotsEdit;
    QLineEdit* m_freeToUploadEdit;
    QLineEdit* m_queuedUploadsEdit;
    UserInfoBrowser* m_userInfoText;
};
