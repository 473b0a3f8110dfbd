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
    m_grow.setSingleShot(true);
    m_grow.setInterval(0);
    connect(&m_grow, &QTimer::timeout, this, &TickerModel::Grow);
}

void TickerModel::Reset(const ItemSet& tickers)
{
    beginResetModel();
    m_rows.clear();
    for (ItemPtr ticker : tickers)
        m_rows.push_back(ticker);
    m_shown = std::min(m_rows.size(), size_t(kRowsAtOnce));
    endResetModel();
    if (m_shown < m_rows.size())
        m_grow.start();
}

void TickerModel::Grow()
{
    const size_t count = std::min(m_rows.size() - m_shown, size_t(kRowsAtOnce));
    if (count > 0) {
        beginInsertRows(QModelIndex(), int(m_shown), int(m_shown + count - 1));
        m_shown += count;
        endInsertRows();
    }
    if (m_shown < m_rows.size())
        m_grow.start();
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
    const size_t index = size_t(at - m_rows.begin());
    if (index > m_shown || (index == m_shown && m_shown < m_rows.size())) {
        m_rows.insert(at, ticker); // handed on with its part
        return;
    }
    beginInsertRows(QModelIndex(), int(index), int(index));
    m_rows.insert(at, ticker);
    ++m_shown;
    endInsertRows();
}

void TickerModel::Remove(ItemPtr ticker)
{
    const auto at = Place(ticker.Serial());
    if (at == m_rows.end() || *at != ticker)
        return;
    const size_t index = size_t(at - m_rows.begin());
    if (index >= m_shown) {
        m_rows.erase(at);
        return;
    }
    beginRemoveRows(QModelIndex(), int(index), int(index));
    m_rows.erase(at);
    --m_shown;
    endRemoveRows();
}

int TickerModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_shown);
}

QVariant TickerModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= m_shown)
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
