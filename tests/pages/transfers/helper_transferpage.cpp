#include "helper_transferpage.h"
#include "pages/transfers/RowProgressBar.h"
#include "pages/transfers/TransfersForm.h"
#include "shell/Kit.h"
#include "shell/TreeWidget.h"
#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <memory>
#include <QTreeWidget>

QList<QTreeWidgetItem*> AllRows(QTreeWidget* tree)
{
    QList<QTreeWidgetItem*> rows;
    QList<QTreeWidgetItem*> pending;
    for (int k = tree->topLevelItemCount() - 1; k >= 0; --k)
        pending << tree->topLevelItem(k);
    while (!pending.isEmpty()) {
        QTreeWidgetItem* row = pending.takeLast();
        rows << row;
        for (int k = row->childCount() - 1; k >= 0; --k)
            pending << row->child(k);
    }
    return rows;
}

QTreeWidgetItem* FindRow(QTreeWidget* tree, int column, const QString& name)
{
    const QString shown = IsolatedText(name);
    for (QTreeWidgetItem* row : AllRows(tree)) {
        if (row->text(column) == shown)
            return row;
    }
    return nullptr;
}

QString ShownName(QTreeWidgetItem* row, int column)
{
    const QString text = row->text(column);
    if (text.startsWith(QChar(0x2068)) && text.endsWith(QChar(0x2069)))
        return text.mid(1, text.size() - 2);
    return QStringLiteral("(not isolated) ") + text;
}

bool ShowsIcon(QTreeWidgetItem* row, const QString& resource)
{
    return row->icon(0).pixmap(16).toImage() == QIcon(resource).pixmap(16).toImage();
}

QColor RowColor(QTreeWidgetItem* row, int column)
{
    return row->foreground(column).color();
}

QString BarText(QTreeWidget*, QTreeWidgetItem* row)
{
    return row->data(4, RowProgressBar::ValueRole).isValid() ? row->data(4, RowProgressBar::TextRole).toString()
                                                            : QString();
}

int BarValue(QTreeWidget*, QTreeWidgetItem* row)
{
    const QVariant value = row->data(4, RowProgressBar::ValueRole);
    return value.isValid() ? value.toInt() : -1;
}

QStringList OpenMenu(QTreeWidget* tree, const QList<QTreeWidgetItem*>& rows, const QString& choose,
    const std::function<void()>& duringMenu)
{
    tree->clearSelection();
    for (QTreeWidgetItem* row : rows)
        row->setSelected(true);
    // Shared with the timer, which may fire after this returns when no menu
    // is shown.
    struct State {
        QStringList texts;
        bool done = false;
    };
    auto state = std::make_shared<State>();
    QTimer::singleShot(50, [state, choose, duringMenu] {
        state->done = true;
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        QAction* chosen = nullptr;
        for (QAction* action : menu->actions()) {
            if (action->isSeparator())
                continue;
            state->texts << action->text();
            if (action->text() == choose)
                chosen = action;
            if (QMenu* sub = action->menu()) {
                for (QAction* inner : sub->actions()) {
                    const QString path = action->text() + QLatin1Char('/') + inner->text();
                    state->texts << path;
                    if (path == choose)
                        chosen = inner;
                }
            }
        }
        if (duringMenu)
            duringMenu();
        if (chosen)
            chosen->trigger();
        menu->close();
    });
    emit tree->customContextMenuRequested(QPoint(5, 5));
    (void)QTest::qWaitFor([&] { return state->done; }, 5000);
    return state->texts;
}

bool ColumnFits(QTreeWidget* tree, int column)
{
    return static_cast<QAbstractItemView*>(tree)->sizeHintForColumn(column) <= tree->columnWidth(column);
}

namespace {
void Put(QByteArray& out, quint32 n)
{
    for (int b = 0; b < 4; ++b)
        out.append(char(n >> (8 * b)));
}

void Put(QByteArray& out, const QByteArray& text)
{
    Put(out, quint32(text.size()));
    out.append(text);
}
} // namespace

quint32 DataFileBytes::Items(const QByteArray& type, const QList<QByteArray>& values)
{
    m_items.append(char(1));
    Put(m_items, type);
    Put(m_items, quint32(values.size()));
    for (const QByteArray& value : values) {
        Put(m_items, value);
        m_items.append(char(0));
    }
    m_count += quint32(values.size());
    return m_count - quint32(values.size());
}

QByteArray DataFileBytes::Bytes() const
{
    QByteArray out("MRWBDATA");
    Put(out, 1);
    out.append(m_items);
    // A record holds at most 131072 entries.
    for (size_t k = 0; k < m_connections.size(); k += 100000) {
        const size_t n = std::min<size_t>(100000, m_connections.size() - k);
        out.append(char(2));
        Put(out, quint32(n));
        for (size_t j = k; j < k + n; ++j) {
            Put(out, m_connections[j].first);
            Put(out, m_connections[j].second);
        }
    }
    out.append(char(0));
    Put(out, m_count);
    Put(out, quint32(m_connections.size()));
    return out;
}

QStringList WrongParentFigures(TransfersForm* form)
{
    QTreeWidget* tree = form->DownloadsList();
    QStringList wrong;
    for (QTreeWidgetItem* row : AllRows(tree)) {
        if (row->childCount() == 0)
            continue;
        const ItemSet entries = form->GetNodeDownloadEntryItems(row);
        const QString word = TransfersForm::GetDownloadEntriesAggregateStatus(entries);
        qint64 done = 0, remaining = 0, total = 0;
        TransfersForm::GetDownloadsProgressStats(entries, done, remaining, total);
        const QString bar = BarText(tree, row);
        const QString due = total > 0 ? TransfersForm::ProgressText(done, double(done * 100) / double(total)) : QString();
        const QString name = row->text(0) + row->text(1) + QStringLiteral(": ");
        if (!row->isExpanded() && row->text(3) != word)
            wrong << name + row->text(3) + QStringLiteral(" for ") + word;
        if (RowColor(row, 0) != TransfersForm::StatusBrush(word).color())
            wrong << name + RowColor(row, 0).name() + QStringLiteral(" for the colour of ") + word;
        if (!bar.isEmpty() && bar != due)
            wrong << name + bar + QStringLiteral(" for ") + due;
    }
    return wrong;
}
