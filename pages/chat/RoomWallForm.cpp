#include "RoomWallForm.h"
#include "NoResourceDocument.h"
#include "server/Server.h"
#include "shell/Kit.h"
#include "shell/TextBound.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "WidgetFunctions.h"
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTextBrowser>
#include <QTextTable>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QColor RowColour(int row)
{
    return row % 2 ? QColor(0xd3, 0xd3, 0xd3) : QColor(Qt::white);
}

// What a row shows of a ticker: the text, and the user's name in the colour
// given. A cut text (or one that lost marks) has the whole as its tooltip, as
// rich text so that it wraps.
QString CellHtml(ItemPtr ticker, const QString& color)
{
    const QString text = ticker["room_ticker_text"].AsString();
    const QString shown = TextBound::Shown(text, RoomWallForm::kShownTicker);
    QString tip;
    // Places to break a long word are not a change of the text.
    if (QString(shown).remove(QChar(0x200B)) != QString(text).remove(QChar(0x200B))) {
        const QString whole = QStringLiteral("<p>")
            + EscapeHTML(IsolatedText(TextBound::Shown(text, RoomWallForm::kTickerTip)))
            + QStringLiteral("</p>");
        tip = QStringLiteral(" title=\"") + whole.toHtmlEscaped() + QLatin1Char('"');
    }
    return QStringLiteral("<b><big><span") + tip + QLatin1Char('>') + EscapeHTML(IsolatedText(shown))
        + QStringLiteral("</span></big></b><font color=\"") + color + QStringLiteral("\"> -")
        + EscapeHTML(IsolatedText(TextBound::Shown(ticker["user"].AsString()))) + QStringLiteral("</font>");
}

} // namespace

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
    textBrowser = new QTextBrowser(this);
    textBrowser->setObjectName(QStringLiteral("textBrowser"));
    textBrowser->setDocument(new NoResourceDocument(textBrowser));
    textBrowser->setOpenLinks(false);
    lineEdit = new QLineEdit(this);
    lineEdit->setObjectName(QStringLiteral("lineEdit"));
    notice = new QLabel(QStringLiteral("Not connected to the server: the ticker was not set."), this);
    notice->setObjectName(QStringLiteral("notice"));
    notice->hide();
    column->addWidget(textBrowser);
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
    d.AddPathEventHandler(root, Register(new EventHandler<RoomWallForm, ItemPtr>(this, &RoomWallForm::OnNewTicker)));
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
    QTextTable* table = Table();
    // The first ticker, or a table that is not the one drawn here: drawn anew.
    if (!table || table->columns() != 1 || table->rows() != int(m_rows.size())) {
        UpdateText();
        return;
    }
    const std::pair<qint64, quint64> key(ticker["room_ticker_order"].AsInt64(), ticker.Serial());
    const auto shown = std::find_if(
        m_rows.begin(), m_rows.end(), [&](const auto& row) { return row.second == key.second; });
    if (shown != m_rows.end()) {
        const int row = int(shown - m_rows.begin());
        if (table->rows() == 1) {
            UpdateText();
            return;
        }
        table->removeRows(row, 1);
        m_rows.erase(shown);
    }
    const auto at = std::upper_bound(
        m_rows.begin(), m_rows.end(), key, [](const auto& a, const auto& b) { return a.first < b.first; });
    const int row = int(at - m_rows.begin());
    if (row == table->rows())
        table->appendRows(1);
    else
        table->insertRows(row, 1);
    m_rows.insert(at, key);
    table->cellAt(row, 0).firstCursorPosition().insertHtml(
        CellHtml(ticker, settings.Get("color_chat_username").toHtmlEscaped()));
    ColourRows(table, row);
}

void RoomWallForm::OnTickerRemoved(ItemPtr ticker)
{
    const quint64 serial = ticker.Serial();
    const auto shown = std::find_if(
        m_rows.begin(), m_rows.end(), [serial](const auto& row) { return row.second == serial; });
    if (shown == m_rows.end())
        return;
    const int row = int(shown - m_rows.begin());
    m_rows.erase(shown);
    QTextTable* table = Table();
    if (!table || table->rows() != int(m_rows.size()) + 1)
        return; // the next ticker draws the wall anew
    // The last row takes the table with it.
    table->removeRows(row, 1);
    if (!m_rows.empty())
        ColourRows(table, row);
}

QTextTable* RoomWallForm::Table() const
{
    for (QTextFrame* frame : textBrowser->document()->rootFrame()->childFrames())
        if (auto* table = qobject_cast<QTextTable*>(frame))
            return table;
    return nullptr;
}

void RoomWallForm::ColourRows(QTextTable* table, int from)
{
    for (int row = from; row < table->rows(); ++row) {
        QTextTableCell cell = table->cellAt(row, 0);
        QTextCharFormat format = cell.format();
        if (format.background().color() != RowColour(row)) {
            format.setBackground(RowColour(row));
            cell.setFormat(format);
        }
    }
}

void RoomWallForm::UpdateText()
{
    textBrowser->setUpdatesEnabled(false);
    textBrowser->clear();
    m_rows.clear();
    const QString color = settings.Get("color_chat_username").toHtmlEscaped();
    QString html = QStringLiteral("<table>");
    for (ItemPtr ticker : m_roomItem.GetItems("room_ticker").SortNumericBy("room_ticker_order", true)) {
        html += QStringLiteral("<tr width=\"%100\"><td bgcolor=%1>").arg(RowColour(int(m_rows.size())).name())
            + CellHtml(ticker, color) + QStringLiteral("</td></tr>");
        m_rows.emplace_back(ticker["room_ticker_order"].AsInt64(), ticker.Serial());
    }
    html += QStringLiteral("</table>");
    textBrowser->append(html);
    QTextCursor cursor = textBrowser->textCursor();
    cursor.setPosition(0);
    textBrowser->setTextCursor(cursor);
    textBrowser->setUpdatesEnabled(true);
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
