#include "paramlistmodel.h"

#include "listexport.h"

#include <QBrush>
#include <QItemSelectionModel>

namespace parvault {

namespace {

// A value cell holding an exchange error text rather than a value: the store
// button writes that text into the list over the value stored there.
const QColor kErrorTextColour(0xB0, 0x00, 0x00);
const QString kErrorTextTip = QStringLiteral(
    "Текст ошибки, а не значение: кнопка сохранения запишет его в список вместо прежнего значения");

bool holdsErrorText(const ParamRow& r, int column) {
    return column == ColValue && IsDiagnosticText(r.texts[ColValue]);
}

} // namespace

const char* const ParamListModel::kHeaders[ColumnCount] = {
    "Канал", "Параметр", "Индекс", "Значение", "Единицы", " Наименование"};
const int ParamListModel::kWidths[ColumnCount] = {50, 75, 50, 160, 60, 225};

ParamListModel::ParamListModel(QObject* parent) : QAbstractTableModel(parent) {}

int ParamListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rowCount();
}

int ParamListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ParamListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const ParamRow& r = rows_[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return r.texts[static_cast<size_t>(index.column())];
    case Qt::DecorationRole:
        if (index.column() == 0 && r.icon >= 0 && r.icon < rowImages_.size())
            return rowImages_[r.icon];
        return {};
    case Qt::UserRole:
        return r.kind;
    case Qt::ForegroundRole:
        if (holdsErrorText(r, index.column()))
            return QBrush(kErrorTextColour);
        return {};
    case Qt::ToolTipRole:
        if (holdsErrorText(r, index.column()))
            return kErrorTextTip;
        return {};
    case Qt::TextAlignmentRole:
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant ParamListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < ColumnCount)
        return QString::fromUtf8(kHeaders[section]);
    if (orientation == Qt::Horizontal && role == Qt::TextAlignmentRole)
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

void ParamListModel::setText(int r, int column, const QString& text) {
    rows_.at(static_cast<size_t>(r)).texts.at(static_cast<size_t>(column)) = text;
    const QModelIndex i = index(r, column);
    emit dataChanged(i, i, {Qt::DisplayRole, Qt::ForegroundRole, Qt::ToolTipRole});
}

void ParamListModel::setIcon(int r, int icon) {
    rows_.at(static_cast<size_t>(r)).icon = icon;
    const QModelIndex i = index(r, 0);
    emit dataChanged(i, i, {Qt::DecorationRole});
}

bool ParamListModel::isSelected(int r) const {
    return selection_ && selection_->isRowSelected(r, {});
}

void ParamListModel::setSelected(int r, bool selected) {
    if (!selection_)
        return;
    selection_->select(index(r, 0), (selected ? QItemSelectionModel::Select
                                              : QItemSelectionModel::Deselect) |
                                         QItemSelectionModel::Rows);
}

void ParamListModel::setRows(std::vector<ParamRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

} // namespace parvault
