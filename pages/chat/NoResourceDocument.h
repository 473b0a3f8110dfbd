#pragma once
// A text document that loads no resources: markup from the server or from
// peers cannot make a view read local files (an <img src="/etc/..."> stays an
// empty image).
#include <QTextDocument>

class NoResourceDocument : public QTextDocument {
    Q_OBJECT
public:
    explicit NoResourceDocument(QObject* parent = nullptr)
        : QTextDocument(parent)
    {
    }

protected:
    QVariant loadResource(int type, const QUrl& name) override;
};
