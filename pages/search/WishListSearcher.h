#pragma once
// Stand-in until the search page is built.
#include <QObject>

class WishListSearcher : public QObject {
    Q_OBJECT
public:
    explicit WishListSearcher(QObject* parent = nullptr);
    ~WishListSearcher() override;
};

extern WishListSearcher* wishListSearcher;
