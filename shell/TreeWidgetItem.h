#pragma once
// Rows whose sort order is decided per column by a model that all rows of one
// tree share: text order, numeric order (the digits of the cell), and either
// of them reversed.
#include <QMap>
#include <QTreeWidgetItem>

class ColumnSortingModel {
public:
    struct ColumnSortingInfo {
        qint32 numeric = 0; // 1 when the column sorts as numbers
        bool reversed = false;
    };

    void SetColumnSortingNumeric(int column) { GetColumnInfoReference(column).numeric = 1; }
    void SetColumnSortingReversed(int column) { GetColumnInfoReference(column).reversed = true; }
    // The column's entry, or {0, false} without creating one.
    ColumnSortingInfo GetColumnInfo(int column) const { return m_columns.value(column); }
    // The column's entry, created as {0, false} when missing.
    ColumnSortingInfo& GetColumnInfoReference(int column) { return m_columns[column]; }
    bool IsSortingNumeric(int column) const { return GetColumnInfo(column).numeric == 1; }
    bool IsSortingReversed(int column) const { return GetColumnInfo(column).reversed; }

private:
    QMap<int, ColumnSortingInfo> m_columns;
};

class TreeWidgetItem : public QTreeWidgetItem {
public:
    explicit TreeWidgetItem(QTreeWidget* parent);
    ~TreeWidgetItem() override;

    // The model is not owned and must outlive the row.
    void SetSortingModel(ColumnSortingModel* model) { m_model = model; }
    ColumnSortingModel* SortingModel() const { return m_model; }

    // Ranks the row by the tree's sort column; Less by any column, also for
    // rows not in a tree yet.
    bool operator<(const QTreeWidgetItem& other) const override;
    virtual bool Less(const QTreeWidgetItem& other, int column) const;

    // The number formed of the text's ASCII digits (signs, points and
    // separators dropped); 0 when there are none or it does not fit 64 bits.
    static qint64 DigitsValue(const QString& text);

private:
    ColumnSortingModel* m_model = nullptr;
};
