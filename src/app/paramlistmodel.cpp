#include "paramlistmodel.h"

#include "listexport.h"

#include <QBrush>
#include <QFont>
#include <QItemSelectionModel>
#include <QSize>

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

const QString kDeviceHeader = QStringLiteral("В приборе");

QVariant compareBackground(CompareMark mark) {
    switch (mark) {
    case CompareMark::Differs:
    case CompareMark::DiffersAfterWrite:
        return QBrush(QColor(0xFF, 0xC8, 0xC8));
    case CompareMark::Refused:
        return QBrush(QColor(0xFF, 0xDC, 0xB4));
    case CompareMark::NotRead:
    case CompareMark::NotReadBack:
    case CompareMark::NotWritten:
        return QBrush(QColor(0xFF, 0xF2, 0xB8));
    case CompareMark::Confirmed:
        return QBrush(QColor(0xD2, 0xF2, 0xD2));
    default:
        return {};
    }
}

} // namespace

const char* const ParamListModel::kHeaders[ColumnCount] = {
    "Канал", "Параметр", "Индекс", "Значение", "Единицы", " Наименование"};
const int ParamListModel::kWidths[ColumnCount] = {50, 75, 50, 160, 60, 225};

ParamListModel::ParamListModel(QObject* parent) : QAbstractTableModel(parent) {}

bool NeedsAttention(CompareMark mark) {
    switch (mark) {
    case CompareMark::Differs:
    case CompareMark::NotRead:
    case CompareMark::Refused:
    case CompareMark::DiffersAfterWrite:
    case CompareMark::NotReadBack:
    case CompareMark::NotWritten:
        return true;
    default:
        return false;
    }
}

QString CompareMarkText(CompareMark mark) {
    switch (mark) {
    case CompareMark::None:
        return {};
    case CompareMark::Pending:
        return QStringLiteral("ждёт чтения");
    case CompareMark::Same:
        return QStringLiteral("совпадает");
    case CompareMark::Differs:
        return QStringLiteral("отличается");
    case CompareMark::NotRead:
        return QStringLiteral("не прочитано");
    case CompareMark::NothingStored:
        return QStringLiteral("в списке нет значения");
    case CompareMark::Writing:
        return QStringLiteral("записывается");
    case CompareMark::Confirmed:
        return QStringLiteral("записано и подтверждено");
    case CompareMark::Refused:
        return QStringLiteral("запись отклонена");
    case CompareMark::DiffersAfterWrite:
        return QStringLiteral("после записи прибор хранит другое значение");
    case CompareMark::NotReadBack:
        return QStringLiteral("после записи не прочитано");
    case CompareMark::NotWritten:
        return QStringLiteral("не записано");
    }
    return {};
}

int ParamListModel::viewColumn(int column) const {
    return comparing_ && column >= kDeviceColumn ? column + 1 : column;
}

int ParamListModel::rowColumn(int view) const {
    if (!comparing_ || view < kDeviceColumn)
        return view;
    return view == kDeviceColumn ? -1 : view - 1;
}

void ParamListModel::beginCompare() {
    if (comparing_) {
        cells_.assign(rows_.size(), CompareCell{});
        if (!rows_.empty())
            emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount));
        return;
    }
    beginInsertColumns({}, kDeviceColumn, kDeviceColumn);
    comparing_ = true;
    cells_.assign(rows_.size(), CompareCell{});
    endInsertColumns();
}

void ParamListModel::endCompare() {
    if (!comparing_)
        return;
    beginRemoveColumns({}, kDeviceColumn, kDeviceColumn);
    comparing_ = false;
    cells_.clear();
    endRemoveColumns();
}

void ParamListModel::setCompareCell(int r, CompareCell cell) {
    CompareCell& mine = cells_.at(static_cast<size_t>(r));
    const bool rowLook = NeedsAttention(mine.mark) != NeedsAttention(cell.mark) ||
                         compareBackground(mine.mark) != compareBackground(cell.mark);
    mine = std::move(cell);
    // The background spans the row; otherwise the compare cell alone changed.
    emit dataChanged(index(r, rowLook ? 0 : kDeviceColumn), index(r, rowLook ? ColumnCount : kDeviceColumn));
}

int ParamListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rowCount();
}

int ParamListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount + (comparing_ ? 1 : 0);
}

QVariant ParamListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const ParamRow& r = rows_[static_cast<size_t>(index.row())];
    const int column = rowColumn(index.column());
    if (comparing_) {
        const CompareCell& cell = cells_[static_cast<size_t>(index.row())];
        if (role == Qt::BackgroundRole)
            return compareBackground(cell.mark);
        if (column < 0) {
            switch (role) {
            case Qt::DisplayRole:
                return cell.device;
            case Qt::ToolTipRole:
                return cell.device.isEmpty() ? CompareMarkText(cell.mark)
                                             : CompareMarkText(cell.mark) + QStringLiteral(": ") + cell.device;
            case Qt::FontRole:
                if (NeedsAttention(cell.mark)) {
                    QFont bold;
                    bold.setBold(true);
                    return bold;
                }
                return {};
            case Qt::TextAlignmentRole:
                return int(Qt::AlignLeft | Qt::AlignVCenter);
            default:
                return {};
            }
        }
    }
    switch (role) {
    case Qt::DisplayRole:
        return r.texts[static_cast<size_t>(column)];
    case Qt::DecorationRole:
        if (column == 0 && r.icon >= 0 && r.icon < rowImages_.size())
            return rowImages_[r.icon];
        return {};
    case Qt::UserRole:
        return r.kind;
    case Qt::ForegroundRole:
        if (holdsErrorText(r, column))
            return QBrush(kErrorTextColour);
        return {};
    case Qt::ToolTipRole:
        if (holdsErrorText(r, column))
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
        section < columnCount()) {
        const int column = rowColumn(section);
        return column < 0 ? kDeviceHeader : QString::fromUtf8(kHeaders[column]);
    }
    if (orientation == Qt::Horizontal && role == Qt::SizeHintRole && comparing_ && section == kDeviceColumn)
        return QSize(kDeviceColumnWidth, 0);
    if (orientation == Qt::Horizontal && role == Qt::TextAlignmentRole)
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

void ParamListModel::setText(int r, int column, const QString& text) {
    rows_.at(static_cast<size_t>(r)).texts.at(static_cast<size_t>(column)) = text;
    const QModelIndex i = index(r, viewColumn(column));
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

void ParamListModel::selectAllRows() {
    if (!selection_ || rows_.empty())
        return;
    selection_->select(QItemSelection(index(0, 0), index(rowCount() - 1, 0)),
                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void ParamListModel::selectOnly(const std::vector<int>& rows) {
    if (!selection_)
        return;
    // Runs of neighbouring rows as one range each.
    QItemSelection chosen;
    for (size_t i = 0; i < rows.size();) {
        size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
            ++j;
        chosen.select(index(rows[i], 0), index(rows[j], 0));
        i = j + 1;
    }
    selection_->select(chosen, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void ParamListModel::setRows(std::vector<ParamRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    // Another list or type: whatever was compared belongs to the old rows.
    comparing_ = false;
    cells_.clear();
    endResetModel();
}

} // namespace parvault
