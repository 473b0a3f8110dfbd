#include "WishListSearcher.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/Settings.h"
#include <QTimer>
#include <climits>

WishListSearcher* wishListSearcher = nullptr;

namespace {

const QString kArea = QStringLiteral("Wish List");
const char* const kIndex = "wish_list_search_index";
const char* const kWait = "wish_list_wait";

} // namespace

WishListSearcher::WishListSearcher(QObject* parent)
    : QObject(parent)
    , m_timer(new QTimer)
{
    wishListSearcher = this;
    if (gp_server)
        connect(gp_server, &Server::WishListWait, this, &WishListSearcher::OnWishListWait);
    runtimeSettings.Set(kIndex, Value(0));
    connect(m_timer, &QTimer::timeout, this, &WishListSearcher::OnSearchTimerTimeout);
}

WishListSearcher::~WishListSearcher()
{
    delete m_timer;
    if (wishListSearcher == this)
        wishListSearcher = nullptr;
}

void WishListSearcher::OnWishListWait(unsigned int seconds)
{
    runtimeSettings.Set(kWait, Value(seconds));
    m_timer->stop();
    const qint32 signedSeconds = static_cast<qint32>(seconds);
    if (signedSeconds <= 0) {
        Log(kArea, 1, QStringLiteral("Wish list wait period of %1 seconds ignored; wish list searches stopped").arg(signedSeconds));
        return;
    }
    const qint64 ms = qint64(signedSeconds) * 1000;
    Log(kArea, 1, QStringLiteral("Wish list wait period set to %1 milliseconds").arg(ms));
    m_timer->setInterval(int(qMin<qint64>(ms, INT_MAX)));
    m_timer->setSingleShot(false);
    m_timer->start();
}

void WishListSearcher::OnSearchTimerTimeout()
{
    if (!gp_server || !gp_server->IsConnected())
        return;
    const int index = runtimeSettings.GetInt(kIndex);
    Type* items = d.HasType("wish_list_item");
    if (!items || !d.HasType("wish_list_item_enabled"))
        return;
    const ItemList list = items->GetItems().Connected("wish_list_item_enabled").SortAlphabetic(true);
    if (list.empty())
        return;
    const int count = int(list.size());
    const int position = (index < 0 ? 0 : index) % count; // a shrunken list wraps
    const QString text = list[size_t(position)].AsString();
    gp_server->FileSearch(text, true);
    Log(kArea, 1, QStringLiteral("Sent wish list search: %1").arg(text));
    runtimeSettings.Set(kIndex, Value(index + 1 < count ? index + 1 : 0));
}
