#include "TickerModel.h"
#include "shell/Kit.h"
#include "shell/TextBound.h"
#include "store/ItemSet.h"
#include <algorithm>

namespace {

// Places to break a long word are not a change of the text.
bool SameText(const QString& shown, const QString& text)
{
    return QString(shown).remove(QChar(0x200B)) == QString(text).remove(QChar(0x200B));
}

} // namespace

TickerModel::TickerModel(QObject* parent)
    : QAbstractListModel(parent)
{
}

void TickerModel::Reset(const ItemSet& tickers)
{
    beginResetModel();
    m_rows.clear();
    m_orders.clear();
    m_orders.reserve(qsizetype(tickers.Size()));
    for (ItemPtr ticker : tickers) {
        m_rows.push_back({ ticker["room_ticker_order"].AsInt64(), ticker.Serial(), ticker });
        m_orders.insert(ticker.Serial(), m_rows.back().order);
    }
    // A room's tickers are made in their order, mostly.
    if (!std::is_sorted(m_rows.begin(), m_rows.end()))
        std::sort(m_rows.begin(), m_rows.end());
    endResetModel();
}

std::deque<TickerModel::Row>::iterator TickerModel::Find(qint64 order, quint64 serial)
{
    const Row key { order, serial, ItemPtr() };
    const auto at = std::lower_bound(m_rows.begin(), m_rows.end(), key);
    return at != m_rows.end() && at->serial == serial ? at : m_rows.end();
}

void TickerModel::Add(ItemPtr ticker)
{
    Remove(ticker.Serial());
    const Row row { ticker["room_ticker_order"].AsInt64(), ticker.Serial(), ticker };
    const auto at = std::upper_bound(m_rows.begin(), m_rows.end(), row);
    const int index = int(at - m_rows.begin());
    beginInsertRows(QModelIndex(), index, index);
    m_rows.insert(at, row);
    m_orders.insert(row.serial, row.order);
    endInsertRows();
}

void TickerModel::Remove(quint64 serial)
{
    const auto known = m_orders.find(serial);
    if (known == m_orders.end())
        return;
    const auto at = Find(*known, serial);
    m_orders.erase(known);
    if (at == m_rows.end())
        return;
    const int index = int(at - m_rows.begin());
    beginRemoveRows(QModelIndex(), index, index);
    m_rows.erase(at);
    endRemoveRows();
}

int TickerModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant TickerModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size()))
        return QVariant();
    const ItemPtr ticker = m_rows[size_t(index.row())].ticker;
    switch (role) {
    case TickerTextRole:
        return IsolatedText(TextBound::Shown(ticker["room_ticker_text"].AsString(), kShownTicker));
    case TickerSerialRole:
        return ticker.Serial();
    case TickerUserRole:
        return IsolatedText(TextBound::Shown(ticker["user"].AsString()));
    case Qt::DisplayRole:
        return data(index, TickerTextRole).toString() + QStringLiteral(" -")
            + data(index, TickerUserRole).toString();
    case Qt::ToolTipRole: {
        // A cut text (or one that lost marks) has the whole as its tooltip,
        // as rich text so that it wraps.
        const QString text = ticker["room_ticker_text"].AsString();
        if (SameText(TextBound::Shown(text, kShownTicker), text))
            return QVariant();
        return QStringLiteral("<p>") + IsolatedText(TextBound::Shown(text, kTickerTip)).toHtmlEscaped()
            + QStringLiteral("</p>");
    }
    default:
        return QVariant();
    }
}
