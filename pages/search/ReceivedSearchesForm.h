#pragma once
// The "Received Searches" tab of the Search page: the searches that other
// users sent to this client, newest on top, at most 500, with "Match" on those
// that were answered. The tool bar pauses and resumes the list.
#include <QWidget>

class QTreeWidget;

class ReceivedSearchesForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMaxRows = 500;

    explicit ReceivedSearchesForm(QWidget* parent = nullptr);
    ~ReceivedSearchesForm() override;
    void Init();
    QTreeWidget* searchList() const { return m_list; }
    bool IsPaused() const { return m_paused; }

public slots:
    void OnSearchProcessed(QString text, bool match);
    void OnActionTriggered(QWidget* widget, QString key);

private:
    QTreeWidget* m_list;
    bool m_paused = false;
};

extern ReceivedSearchesForm* receivedSearchesForm;
