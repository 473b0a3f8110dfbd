#include "WishListSearcher.h"

WishListSearcher* wishListSearcher = nullptr;

WishListSearcher::WishListSearcher(QObject* parent)
    : QObject(parent)
{
    wishListSearcher = this;
}

WishListSearcher::~WishListSearcher()
{
    if (wishListSearcher == this)
        wishListSearcher = nullptr;
}
