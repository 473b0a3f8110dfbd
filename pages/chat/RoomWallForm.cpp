#include "RoomWallForm.h"
#include "TickerModel.h"
#include "WidgetFunctions.h"
#include "server/Server.h"
#include "store/Data.h"
#include "store/Settings.h"
#include <QHBoxLayout>
#include <QHash>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QResizeEvent>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <QTreeView>
#include <QVBoxLayout>
#include <QtMath>

namespace {

// Room around a row's text.
constexpr int kPadding = 3;

// Draws a row as the ticker's text, bold and a size bigger, then " -" and the
// user's name in the colour of names in chats; long rows wrap at the width of
// the wall.
class TickerDelegate : public QStyledItemDelegate {
public:
    explicit TickerDelegate(QTreeView* view)
        : QStyledItemDelegate(view)
        , m_view(view)
    {
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QTextLayout layout;
        Lay(layout, index, option.font, option.rect.width());
        painter->save();
        painter->setPen(option.palette.color(QPalette::Text));
        layout.draw(painter, QPointF(option.rect.left() + kPadding, option.rect.top() + kPadding));
        painter->restore();
    }

    // The view asks again for the rows on screen whenever rows come or go:
    // a row's height is laid out once for the width and font.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const int width = m_view->viewport()->width();
        if (width != m_width || option.font != m_font || m_heights.size() > kKeptHeights) {
            m_heights.clear();
            m_width = width;
            m_font = option.font;
        }
        const quint64 serial = index.data(TickerModel::TickerSerialRole).toULongLong();
        auto known = m_heights.constFind(serial);
        if (known == m_heights.cend()) {
            QTextLayout layout;
            known = m_heights.insert(serial, qCeil(Lay(layout, index, option.font, width)) + 2 * kPadding);
        }
        return QSize(width, *known);
    }

private:
    // Lays the row out for the width; returns its height.
    static qreal Lay(QTextLayout& layout, const QModelIndex& index, const QFont& font, int width)
    {
        const QString text = index.data(TickerModel::TickerTextRole).toString();
        layout.setText(text + QStringLiteral(" -") + index.data(TickerModel::TickerUserRole).toString());
        layout.setFont(font);
        QTextOption wrapping;
        wrapping.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(wrapping);
        QFont big = font;
        big.setBold(true);
        if (big.pointSizeF() > 0)
            big.setPointSizeF(big.pointSizeF() * 1.2);
        else
            big.setPixelSize(qRound(big.pixelSize() * 1.2));
        QTextLayout::FormatRange ticker;
        ticker.start = 0;
        ticker.length = int(text.size());
        ticker.format.setFont(big);
        QTextLayout::FormatRange user;
        user.start = ticker.length;
        user.length = int(layout.text().size()) - ticker.length;
        if (const QColor color = QColor::fromString(settings.Get("color_chat_username")); color.isValid())
            user.format.setForeground(color);
        layout.setFormats({ ticker, user });
        layout.beginLayout();
        qreal y = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(qMax(1, width - 2 * kPadding));
            line.setPosition(QPointF(0, y));
            y += line.height();
        }
        layout.endLayout();
        return y;
    }

    static constexpr int kKeptHeights = 4096;

    QTreeView* m_view;
    mutable QHash<quint64, int> m_heights;
    mutable int m_width = -1;
    mutable QFont m_font;
};

// The wall is read, not worked in: it has no current row (which the view
// would scroll to, laying all rows out again, each time a list took the row
// away), and the keys scroll it.
class NoCurrentRow : public QItemSelectionModel {
public:
    using QItemSelectionModel::QItemSelectionModel;
    void setCurrentIndex(const QModelIndex&, QItemSelectionModel::SelectionFlags) override { }
};

// Row heights follow the width of the wall.
class WallView : public QTreeView {
public:
    using QTreeView::QTreeView;

    void setModel(QAbstractItemModel* model) override
    {
        QTreeView::setModel(model);
        QItemSelectionModel* made = selectionModel();
        setSelectionModel(new NoCurrentRow(model, this));
        delete made;
    }

protected:
    void keyPressEvent(QKeyEvent* event) override { QAbstractScrollArea::keyPressEvent(event); }

    bool viewportEvent(QEvent* event) override
    {
        if (event->type() == QEvent::Resize) {
            const auto* resize = static_cast<QResizeEvent*>(event);
            if (resize->size().width() != resize->oldSize().width())
                scheduleDelayedItemsLayout();
        }
        return QTreeView::viewportEvent(event);
    }
};

} // namespace

const QColor& RoomWallForm::RowColour(int row)
{
    static const QColor white(Qt::white);
    static const QColor grey(0xd3, 0xd3, 0xd3);
    return row % 2 ? grey : white;
}

RoomWallForm::RoomWallForm(const QString& room, QWidget* parent)
    : QWidget(parent)
    , m_room(room)
{
    setObjectName(QStringLiteral("RoomWallForm"));
    resize(511, 331);
    auto* outer = new QHBoxLayout(this);
    outer->setObjectName(QStringLiteral("horizontalLayout"));
    auto* column = new QVBoxLayout;
    column->setObjectName(QStringLiteral("verticalLayout"));
    outer->addLayout(column);
    tickerView = new WallView(this);
    tickerView->setObjectName(QStringLiteral("tickerView"));
    tickerView->setHeaderHidden(true);
    tickerView->setRootIsDecorated(false);
    tickerView->setSelectionMode(QAbstractItemView::NoSelection);
    tickerView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The scroll bar stays: one that came and went with the rows would change
    // the width, and every row would be laid out again for it.
    tickerView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Rows alternate by their place: a ticker that comes or goes recolours none.
    tickerView->setAlternatingRowColors(true);
    QPalette colours = tickerView->palette();
    colours.setColor(QPalette::Base, RowColour(0));
    colours.setColor(QPalette::AlternateBase, RowColour(1));
    colours.setColor(QPalette::Text, Qt::black);
    tickerView->setPalette(colours);
    m_tickers = new TickerModel(tickerView);
    tickerView->setModel(m_tickers);
    tickerView->setItemDelegate(new TickerDelegate(tickerView));
    lineEdit = new QLineEdit(this);
    lineEdit->setObjectName(QStringLiteral("lineEdit"));
    notice = new QLabel(QStringLiteral("Not connected to the server: the ticker was not set."), this);
    notice->setObjectName(QStringLiteral("notice"));
    notice->hide();
    column->addWidget(tickerView);
    column->addWidget(lineEdit);
    column->addWidget(notice);
    RegisterWidgetForTabFocus(lineEdit, 1);

    m_roomItem = d.GetType("room")->GetItem(Value(room));
    UpdateText();

    // A ticker is complete with its fourth connection; the room goes last.
    auto* root = new PathNode(&d, "room_ticker");
    new PathNode(root, m_roomItem, PathConnected);
    for (const char* type : { "user", "room_ticker_text", "room_ticker_order" })
        new PathNode(root, type, PathConnected);
    d.AddPathEventHandler(
        root, Register(new EventHandler<RoomWallForm, ItemPtr>(this, &RoomWallForm::OnNewTicker)));
    // A removed ticker leaves the wall as well.
    Subscribe(d.GetType("room_ticker")->itemRemoved, &RoomWallForm::OnTickerRemoved);

    connect(lineEdit, &QLineEdit::returnPressed, this, &RoomWallForm::OnEnterPressed);
}

RoomWallForm::~RoomWallForm()
{
    if (Type* walls = d.HasType("room_wall_form"))
        walls->HasItem(Value(this)).Remove();
}

void RoomWallForm::OnNewTicker(ItemPtr ticker)
{
    m_tickers->Add(ticker);
}

void RoomWallForm::OnTickerRemoved(ItemPtr ticker)
{
    m_tickers->Remove(ticker);
}

void RoomWallForm::UpdateText()
{
    m_tickers->Reset(m_roomItem.GetItems("room_ticker"));
}

QString RoomWallForm::Text() const
{
    QStringList rows;
    for (int row = 0; row < m_tickers->rowCount(); ++row)
        rows << m_tickers->index(row).data().toString();
    return rows.join(QLatin1Char('\n'));
}

void RoomWallForm::OnEnterPressed()
{
    const QString text = lineEdit->text().trimmed();
    if (text.isEmpty())
        return;
    const bool online = gp_server && gp_server->IsConnected();
    notice->setVisible(!online);
    if (!online)
        return;
    gp_server->SetRoomTicker(m_room, text);
    lineEdit->clear();
}
