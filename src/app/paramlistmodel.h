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

    static const char* const kHeaders[ColumnCount];
    static const int kWidths[ColumnCount];

private:
    std::vector<ParamRow> rows_;
    QList<QPixmap> rowImages_;
    QItemSelectionModel* selection_ = nullptr;
};

} // namespace parvault
