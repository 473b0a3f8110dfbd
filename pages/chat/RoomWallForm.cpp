#include "RoomWallForm.h"
#include "NoResourceDocument.h"
#include "server/Server.h"
#include "shell/Kit.h"
#include "store/Data.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "WidgetFunctions.h"
#include <QHBoxLayout>
#include <QLineEdit>
#include <QTextBrowser>
#include <QVBoxLayout>

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
    column->addWidget(textBrowser);
    column->addWidget(lineEdit);
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

void RoomWallForm::OnNewTicker(ItemPtr)
{
    UpdateText();
}

void RoomWallForm::OnTickerRemoved(ItemPtr ticker)
{
    // The ticker is still in the store while this runs: redraw once it is gone.
    if (!ticker.IsConnected(m_roomItem) || m_redrawQueued)
        return;
    m_redrawQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_redrawQueued = false;
            UpdateText();
        },
        Qt::QueuedConnection);
}

void RoomWallForm::UpdateText()
{
    textBrowser->setUpdatesEnabled(false);
    textBrowser->clear();
    const QString color = settings.Get("color_chat_username").toHtmlEscaped();
    QString html = QStringLiteral("<table>");
    bool white = true;
    for (ItemPtr ticker : m_roomItem.GetItems("room_ticker").SortNumericBy("room_ticker_order", true)) {
        html += white ? QStringLiteral("<tr width=\"%100\"><td bgcolor=#ffffff>")
                      : QStringLiteral("<tr width=\"%100\"><td bgcolor=#d3d3d3>");
        white = !white;
        html += QStringLiteral("<b><big>") + EscapeHTML(IsolatedText(ticker["room_ticker_text"].AsString()))
            + QStringLiteral("</big></b><font color=\"") + color + QStringLiteral("\"> -")
            + EscapeHTML(IsolatedText(ticker["user"].AsString())) + QStringLiteral("</font></td></tr>");
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
    if (gp_server)
        gp_server->SetRoomTicker(m_room, text);
    lineEdit->clear();
}
