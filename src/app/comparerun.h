#pragma once

// The window's compare of a saved list with the device: the selected rows
// (all when none is) are read with the normal exchange, the device's answers
// go to the compare column instead of the value column, and each row gets
// its verdict by the command line's rule. From there the stored values of
// chosen differing rows can be written and read back. Nothing here writes
// the list's values or its file.

#include "exchangedisplay.h"
#include "paramlistmodel.h"
#include "rowtable.h"
#include "valuecompare.h"

#include <QString>

#include <optional>
#include <vector>

namespace parvault {

class ExchangeController;

class CompareRun {
public:
    enum class Phase { Idle, Reading, Shown, Writing, ReadingBack };

    struct Counts {
        int same = 0, differs = 0, notRead = 0, nothingStored = 0;
        int confirmed = 0, refused = 0, differsAfterWrite = 0;
    };

    CompareRun(ParamListModel& model, ExchangeDisplay& display);

    // The rows the exchange controller is given: the model's, except that
    // while a compare runs, the device's texts land in the compare column.
    RowTable& exchangeRows() { return rows_; }
    void setController(ExchangeController* controller) { controller_ = controller; }

    // Idle once the rows were replaced, before any step noticed it.
    Phase phase() const { return model_.comparing() ? phase_ : Phase::Idle; }
    // A compare is shown (or running) on the rows in the list.
    bool active() const;
    // Reads the selected rows (all when none is) for the compare; false when
    // there are no rows or an exchange is running.
    bool start();
    // Writes the stored values of the selected rows that differ, then reads
    // them back; false when no selected row differs or nothing is shown.
    bool writeStored();
    // After every step of the exchange: notices the end of a pass.
    void afterStep();
    // The user pressed Stop: no read-back follows a stopped write.
    void noteStop() { stopped_ = true; }
    // Drops the compare column; the rows keep their stored values.
    void leave();

    Counts counts() const;
    // "Отличаются: 3, совпадают: 25, не прочитаны: 1", and after a write
    // what came of it.
    QString countsText() const;

private:
    class Rows final : public RowTable {
    public:
        explicit Rows(CompareRun& run) : run_(run) {}
        int rowCount() const override;
        const ParamRow& row(int r) const override;
        void setText(int r, int column, const QString& text) override;
        void setIcon(int r, int icon) override;
        bool isSelected(int r) const override;
        void setSelected(int r, bool selected) override;
        void setRows(std::vector<ParamRow> rows) override;

    private:
        CompareRun& run_;
    };

    bool redirecting() const { return phase_ == Phase::Reading || phase_ == Phase::Writing || phase_ == Phase::ReadingBack; }
    void deviceText(int r, const QString& text);
    void iconSet(int r, int icon);
    void finishPass();
    void showCounts();
    void setMark(int r, CompareMark mark, const QString& device);
    QString stored(int r) const;

    ParamListModel& model_;
    ExchangeDisplay& display_;
    ExchangeController* controller_ = nullptr;
    Rows rows_;
    Phase phase_ = Phase::Idle;
    bool stopped_ = false;
    // Per row, this pass: the device's last text, and the first verdict.
    std::vector<std::optional<QString>> answer_;
    std::vector<Verdict> before_;
    std::vector<char> refused_;
    std::vector<int> written_; // rows of the current write-back
};

} // namespace parvault
