#include "ColumnFitter.h"
#include "SizeManager.h"
#include <QAbstractItemModel>
#include <QEvent>
#include <QHeaderView>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <vector>

void ColumnFitter::Attach(QTreeView* list, QList<int> columns)
{
    if (list)
        new ColumnFitter(list, std::move(columns));
}

int ColumnFitter::Given(const QTreeView* list, int column)
{
    const auto* fitter = list ? list->findChild<ColumnFitter*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    return fitter ? fitter->m_given.value(column) : 0;
}

ColumnFitter::ColumnFitter(QTreeView* list, QList<int> columns)
    : QObject(list)
    , m_list(list)
    , m_columns(std::move(columns))
    , m_pending(new QTimer(this))
{
    m_pending->setSingleShot(true);
    m_pending->setInterval(0);
    connect(m_pending, &QTimer::timeout, this, &ColumnFitter::Fit);
    QHeaderView* header = list->header();
    // Only the rows in view are measured, however long the list.
    header->setResizeContentsPrecision(0);
    header->installEventFilter(this);
    header->viewport()->installEventFilter(this);
    list->viewport()->installEventFilter(this);
    // A width set by anyone else is the column's own from then on.
    connect(header, &QHeaderView::sectionResized, this, [this](int column) {
        if (m_fitting)
            return;
        m_given.remove(column);
        if (!m_userDrags) {
            m_pending->start();
            return;
        }
        // The user lays the list out: the widths as shown are the user's.
        m_userSized = true;
        m_given.clear();
    });
    const auto later = [this] {
        if (!m_userSized)
            m_pending->start();
    };
    if (QAbstractItemModel* model = list->model()) {
        connect(model, &QAbstractItemModel::rowsInserted, m_pending, later);
        connect(model, &QAbstractItemModel::layoutChanged, m_pending, later);
        connect(model, &QAbstractItemModel::modelReset, m_pending, later);
    }
    connect(list, &QTreeView::expanded, m_pending, later);
    connect(list->verticalScrollBar(), &QScrollBar::valueChanged, m_pending, later);
}

bool ColumnFitter::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (watched != m_list->viewport())
            m_userDrags = true;
        break;
    case QEvent::MouseButtonRelease:
        m_userDrags = false;
        break;
    case QEvent::Resize:
    case QEvent::Show:
        if (watched == m_list->viewport() && !m_userSized)
            m_pending->start();
        break;
    default:
        break;
    }
    return false;
}

int ColumnFitter::Needed(int column) const
{
    // Public in the base class: the rows in view, measured as the view does.
    return static_cast<const QAbstractItemView*>(m_list)->sizeHintForColumn(column);
}

void ColumnFitter::Fit()
{
    if (m_userSized || !m_list->isVisible())
        return;
    QHeaderView* header = m_list->header();
    const int last = header->logicalIndex(header->count() - 1);
    const bool stretched = header->stretchLastSection();
    int room = m_list->viewport()->width() - header->length();
    if (stretched) {
        const int kept = std::max({ header->sectionSizeHint(last), Needed(last), header->minimumSectionSize() });
        room = header->sectionSize(last) - kept;
    }
    // What was given before is shared out again with the room left, whatever
    // order the rows came in.
    struct Short {
        int column, base, missing;
    };
    std::vector<Short> shortOf;
    for (int column : std::as_const(m_columns)) {
        if (header->isSectionHidden(column) || (stretched && column == last))
            continue;
        int& given = m_given[column];
        const int base = header->sectionSize(column) - given;
        room += given;
        given = 0;
        shortOf.push_back({ column, base, Needed(column) - base });
    }
    // The columns short of the least first, each taking at most an equal
    // part of what is left: as many as possible show whole, and the room
    // that remains is shared evenly by the others.
    std::stable_sort(shortOf.begin(), shortOf.end(), [](const Short& a, const Short& b) { return a.missing < b.missing; });
    const auto apply = [&] {
        for (size_t k = 0; k < shortOf.size(); ++k) {
            const Short& c = shortOf[k];
            const int share = room > 0 ? room / int(shortOf.size() - k) : 0;
            const int more = std::clamp(c.missing, 0, share);
            m_given[c.column] = more;
            room -= more;
            if (header->sectionSize(c.column) != c.base + more)
                header->resizeSection(c.column, c.base + more);
        }
    };
    // The widths are for this run's room: what is kept for the next run are
    // the user's own.
    m_fitting = true;
    if (sizeManager)
        sizeManager->Unrecorded(apply);
    else
        apply();
    m_fitting = false;
}
