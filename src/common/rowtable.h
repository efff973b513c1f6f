#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

namespace parvault {

// atoi, as the row numbers in the list's columns are read: leading blanks
// skipped, optional sign, digits; 0 when there are none.
int leadingInt(const QString& text);

// Columns of the parameter list, in display order.
enum Column : int {
    ColCanal = 0, // "%3d"
    ColParam,     // "%4d"
    ColIndex,     // "%3d"
    ColValue,
    ColUnits,
    ColName,
    ColumnCount
};

// Indices into the row image strip.
enum RowIcon : int {
    IconWriteUnanswered = 0, // red figure
    IconWritten = 1,         // blue tick
    IconNeutral = 2,         // blank: read, or nothing happened yet
    IconEdited = 3,          // red "!": write refused, or value edited by hand
    IconQueued = 4,          // black "?": queued for reading
    IconSent = 5,            // blue ">>": read error, or write request sent
    IconReadUnanswered = 6,  // red dot
    RowIconCount = 7
};

// Request kinds (the row's item data).
enum RequestKind : int32_t { KindPlain = 0, KindIndexed = 1, KindDataBlock = 25 };

struct ParamRow {
    std::array<QString, ColumnCount> texts;
    int32_t kind = KindPlain;
    int icon = IconNeutral;

    bool operator==(const ParamRow&) const = default;
};

// The parameter list as the logic sees it. The window's list model implements
// it; tests and the command line use MemoryRowTable. Rows stay in ascending
// order of channel, parameter and index, row i pairing with the i-th record of
// the open list file.
class RowTable {
public:
    virtual ~RowTable() = default;

    virtual int rowCount() const = 0;
    virtual const ParamRow& row(int row) const = 0;
    virtual void setText(int row, int column, const QString& text) = 0;
    virtual void setIcon(int row, int icon) = 0;
    virtual bool isSelected(int row) const = 0;
    virtual void setSelected(int row, bool selected) = 0;
    // Replaces every row at once (one reset, not one insert per row); clears the selection.
    virtual void setRows(std::vector<ParamRow> rows) = 0;

    QString text(int r, int column) const { return row(r).texts[static_cast<size_t>(column)]; }
    int32_t kind(int r) const { return row(r).kind; }
    int icon(int r) const { return row(r).icon; }
    void clear() { setRows({}); }
};

class MemoryRowTable final : public RowTable {
public:
    int rowCount() const override { return static_cast<int>(rows_.size()); }
    const ParamRow& row(int r) const override { return rows_.at(static_cast<size_t>(r)); }
    void setText(int r, int column, const QString& text) override {
        rows_.at(static_cast<size_t>(r)).texts.at(static_cast<size_t>(column)) = text;
    }
    void setIcon(int r, int icon) override { rows_.at(static_cast<size_t>(r)).icon = icon; }
    bool isSelected(int r) const override { return selected_.at(static_cast<size_t>(r)) != 0; }
    void setSelected(int r, bool selected) override {
        selected_.at(static_cast<size_t>(r)) = selected ? 1 : 0;
    }
    void setRows(std::vector<ParamRow> rows) override {
        rows_ = std::move(rows);
        selected_.assign(rows_.size(), 0);
    }

private:
    std::vector<ParamRow> rows_;
    std::vector<char> selected_;
};

} // namespace parvault
