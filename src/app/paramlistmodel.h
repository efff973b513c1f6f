#pragma once

#include "rowtable.h"

#include <QAbstractTableModel>
#include <QList>
#include <QPixmap>

#include <vector>

class QItemSelectionModel;

namespace parvault {

// The parameter list's rows, shown by the window's list view and reached by
// the other subsystems through RowTable. Loading is one model reset.
// What the compare column shows of a row.
enum class CompareMark {
    None,              // not part of the compare
    Pending,           // queued for reading
    Same,
    Differs,
    NotRead,           // an error answer, no answer, or stopped before its turn
    NothingStored,
    Writing,           // its stored value is being written
    Confirmed,         // written and read back equal
    Refused,           // the device refused the write (or it was not sent)
    DiffersAfterWrite, // the device took the write and keeps another value
    NotReadBack,       // written (or unanswered), and the read after it failed
    NotWritten,        // stopped before its turn to be written
};

struct CompareCell {
    QString device; // the device's value, or its text when the row was not read
    CompareMark mark = CompareMark::None;
};

// A mark that wants the user's eye: the device does not hold the stored value
// or could not tell.
bool NeedsAttention(CompareMark mark);
QString CompareMarkText(CompareMark mark);

class ParamListModel final : public QAbstractTableModel, public RowTable {
    Q_OBJECT
public:
    explicit ParamListModel(QObject* parent = nullptr);

    void setRowImages(QList<QPixmap> images) { rowImages_ = std::move(images); }
    void setSelectionModel(QItemSelectionModel* selection) { selection_ = selection; }

    // QAbstractTableModel
    int rowCount(const QModelIndex& parent) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // RowTable
    int rowCount() const override { return static_cast<int>(rows_.size()); }
    const ParamRow& row(int r) const override { return rows_.at(static_cast<size_t>(r)); }
    void setText(int r, int column, const QString& text) override;
    void setIcon(int r, int icon) override;
    bool isSelected(int r) const override;
    void setSelected(int r, bool selected) override;
    void setRows(std::vector<ParamRow> rows) override;
    // Whole selections in one change each (a row at a time is slow for
    // thousands).
    void selectAllRows();
    void selectOnly(const std::vector<int>& rows);

    // The compare column: inserted after the value column while a compare
    // is shown, gone with it (and with any new set of rows).
    static constexpr int kDeviceColumn = ColValue + 1;
    static constexpr int kDeviceColumnWidth = 160;
    void beginCompare();
    void endCompare();
    bool comparing() const { return comparing_; }
    const CompareCell& compareCell(int r) const { return cells_.at(static_cast<size_t>(r)); }
    void setCompareCell(int r, CompareCell cell);
    // The view's column of a row column, and the row column of a view column
    // (-1: the compare column).
    int viewColumn(int column) const;
    int rowColumn(int viewColumn) const;

    static const char* const kHeaders[ColumnCount];
    static const int kWidths[ColumnCount];

private:
    std::vector<ParamRow> rows_;
    QList<QPixmap> rowImages_;
    QItemSelectionModel* selection_ = nullptr;
    bool comparing_ = false;
    std::vector<CompareCell> cells_;
};

} // namespace parvault
