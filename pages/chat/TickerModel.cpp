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
    for (ItemPtr ticker : tickers)
        m_rows.push_back(ticker);
    endResetModel();
}

std::deque<ItemPtr>::iterator TickerModel::Place(quint64 serial)
{
    return std::lower_bound(
        m_rows.begin(), m_rows.end(), serial, [](ItemPtr row, quint64 key) { return row.Serial() < key; });
}

void TickerModel::Add(ItemPtr ticker)
{
    const auto at = Place(ticker.Serial());
    if (at != m_rows.end() && *at == ticker)
        return;
    const int index = int(at - m_rows.begin());
    beginInsertRows(QModelIndex(), index, index);
    m_rows.insert(at, ticker);
    endInsertRows();
}

void TickerModel::Remove(ItemPtr ticker)
{
    const auto at = Place(ticker.Serial());
    if (at == m_rows.end() || *at != ticker)
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
    const ItemPtr ticker = m_rows[size_t(index.row())];
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
