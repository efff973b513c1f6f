#include "comparerun.h"

#include "controller.h"

namespace parvault {

namespace {

const QString kNoAnswer = QStringLiteral("нет ответа");
const QString kNotSent = QStringLiteral("значение не помещается в запрос записи");
const QString kNotChecked = QStringLiteral("записано, не проверено: обмен остановлен");

CompareMark markOf(Verdict v) {
    switch (v) {
    case Verdict::Same:
        return CompareMark::Same;
    case Verdict::Differs:
        return CompareMark::Differs;
    case Verdict::NotRead:
        return CompareMark::NotRead;
    case Verdict::NothingStored:
        return CompareMark::NothingStored;
    }
    return CompareMark::NotRead;
}

} // namespace

// ---------------------------------------------------------------- the controller's rows

int CompareRun::Rows::rowCount() const { return run_.model_.rowCount(); }

const ParamRow& CompareRun::Rows::row(int r) const { return run_.model_.row(r); }

void CompareRun::Rows::setText(int r, int column, const QString& text) {
    if (run_.redirecting()) {
        // The value column keeps the stored value (a write sends it from
        // there); the device's units are no part of the compare.
        if (column == ColValue)
            run_.deviceText(r, text);
        if (column == ColValue || column == ColUnits)
            return;
    }
    run_.model_.setText(r, column, text);
}

void CompareRun::Rows::setIcon(int r, int icon) {
    run_.model_.setIcon(r, icon);
    if (run_.redirecting() && run_.model_.comparing())
        run_.iconSet(r, icon);
}

bool CompareRun::Rows::isSelected(int r) const { return run_.model_.isSelected(r); }

void CompareRun::Rows::setSelected(int r, bool selected) { run_.model_.setSelected(r, selected); }

void CompareRun::Rows::setRows(std::vector<ParamRow> rows) { run_.model_.setRows(std::move(rows)); }

// ---------------------------------------------------------------- the compare

CompareRun::CompareRun(ParamListModel& model, ExchangeDisplay& display)
    : model_(model), display_(display), rows_(*this) {}

bool CompareRun::active() const { return phase_ != Phase::Idle && model_.comparing(); }

QString CompareRun::stored(int r) const { return model_.text(r, ColValue); }

void CompareRun::setMark(int r, CompareMark mark, const QString& device) {
    model_.setCompareCell(r, CompareCell{device, mark});
}

bool CompareRun::start() {
    if (!controller_ || controller_->busy() || model_.rowCount() == 0)
        return false;
    const int n = model_.rowCount();
    std::vector<int> chosen;
    for (int r = 0; r < n; ++r)
        if (model_.isSelected(r))
            chosen.push_back(r);
    // A row counts as selected when all its cells are: the new column's too.
    model_.beginCompare();
    if (chosen.empty())
        model_.selectAllRows();
    else
        model_.selectOnly(chosen);
    answer_.assign(static_cast<size_t>(n), std::nullopt);
    before_.assign(static_cast<size_t>(n), Verdict::NotRead);
    refused_.assign(static_cast<size_t>(n), 0);
    written_.clear();
    stopped_ = false;
    phase_ = Phase::Reading;
    controller_->OnReadCommand();
    afterStep();
    return true;
}

bool CompareRun::writeStored() {
    if (!controller_ || controller_->busy() || phase_ != Phase::Shown || !model_.comparing())
        return false;
    std::vector<int> chosen;
    for (int r = 0; r < model_.rowCount(); ++r) {
        const CompareMark m = model_.compareCell(r).mark;
        if (model_.isSelected(r) && (m == CompareMark::Differs || m == CompareMark::DiffersAfterWrite ||
                                     m == CompareMark::Refused || m == CompareMark::NotWritten))
            chosen.push_back(r);
    }
    if (chosen.empty())
        return false;
    for (int r : chosen) {
        answer_[static_cast<size_t>(r)].reset();
        refused_[static_cast<size_t>(r)] = 0;
        setMark(r, CompareMark::Writing, model_.compareCell(r).device);
    }
    written_ = chosen;
    model_.selectOnly(chosen);
    stopped_ = false;
    phase_ = Phase::Writing;
    controller_->OnWriteCommand();
    afterStep();
    return true;
}

void CompareRun::deviceText(int r, const QString& text) {
    if (r >= 0 && static_cast<size_t>(r) < answer_.size())
        answer_[static_cast<size_t>(r)] = text;
}

void CompareRun::iconSet(int r, int icon) {
    if (r < 0 || static_cast<size_t>(r) >= answer_.size())
        return;
    const auto k = static_cast<size_t>(r);
    const QString said = answer_[k].value_or(QString());
    switch (phase_) {
    case Phase::Reading:
        if (icon == IconQueued) {
            answer_[k].reset();
            setMark(r, CompareMark::Pending, QString());
        } else if (icon == IconNeutral) {
            before_[k] = compareWithStored(said, stored(r));
            setMark(r, markOf(before_[k]), said);
        } else if (icon == IconSent) {
            setMark(r, CompareMark::NotRead, said);
        } else if (icon == IconReadUnanswered) {
            setMark(r, CompareMark::NotRead, kNoAnswer);
        }
        break;
    case Phase::Writing:
        if (model_.compareCell(r).mark != CompareMark::Writing)
            break; // every row's icon is reset when a write starts
        if (icon == IconEdited) {
            refused_[k] = 1;
            setMark(r, CompareMark::Refused, answer_[k] ? said : kNotSent);
        } else if (icon == IconWritten || icon == IconWriteUnanswered) {
            refused_[k] = icon == IconWritten ? 2 : 3;
        }
        break;
    case Phase::ReadingBack:
        if (model_.compareCell(r).mark != CompareMark::Writing)
            break;
        if (icon == IconQueued) {
            answer_[k].reset();
        } else if (icon == IconNeutral) {
            const WriteBack w = judgeWriteBack(before_[k], false, said, stored(r));
            setMark(r, w == WriteBack::Written ? CompareMark::Confirmed : CompareMark::DiffersAfterWrite, said);
        } else if (icon == IconSent || icon == IconReadUnanswered) {
            setMark(r, CompareMark::NotReadBack, icon == IconSent ? said : kNoAnswer);
        }
        break;
    case Phase::Idle:
    case Phase::Shown:
        break;
    }
}

void CompareRun::afterStep() {
    if (phase_ == Phase::Idle)
        return;
    if (!model_.comparing()) {
        phase_ = Phase::Idle; // the rows were replaced
        return;
    }
    if (redirecting() && controller_ && !controller_->busy())
        finishPass();
}

void CompareRun::finishPass() {
    const int n = model_.rowCount();
    switch (phase_) {
    case Phase::Reading:
        for (int r = 0; r < n; ++r)
            if (model_.compareCell(r).mark == CompareMark::Pending)
                setMark(r, CompareMark::NotRead, QString());
        phase_ = Phase::Shown;
        break;
    case Phase::Writing: {
        std::vector<int> readBack;
        for (int r : written_) {
            if (model_.compareCell(r).mark != CompareMark::Writing)
                continue; // refused
            const char state = refused_[static_cast<size_t>(r)];
            if (state == 0)
                setMark(r, CompareMark::NotWritten, model_.compareCell(r).device);
            else if (stopped_)
                setMark(r, CompareMark::NotReadBack, kNotChecked);
            else
                readBack.push_back(r);
        }
        if (readBack.empty()) {
            phase_ = Phase::Shown;
            break;
        }
        // What the device holds now, whatever it answered to the write.
        model_.selectOnly(readBack);
        phase_ = Phase::ReadingBack;
        controller_->OnReadCommand();
        if (!controller_->busy())
            finishPass();
        return;
    }
    case Phase::ReadingBack:
        for (int r : written_)
            if (model_.compareCell(r).mark == CompareMark::Writing)
                setMark(r, CompareMark::NotReadBack, QString());
        phase_ = Phase::Shown;
        break;
    case Phase::Idle:
    case Phase::Shown:
        return;
    }
    showCounts();
}

void CompareRun::leave() {
    if (phase_ == Phase::Idle && !model_.comparing())
        return;
    if (redirecting() && controller_ && controller_->busy())
        controller_->StopExchange();
    phase_ = Phase::Idle;
    model_.endCompare();
}

CompareRun::Counts CompareRun::counts() const {
    Counts c;
    if (!model_.comparing())
        return c;
    for (int r = 0; r < model_.rowCount(); ++r) {
        switch (model_.compareCell(r).mark) {
        case CompareMark::Same:
            ++c.same;
            break;
        case CompareMark::Confirmed:
            ++c.same;
            ++c.confirmed;
            break;
        case CompareMark::Differs:
        case CompareMark::NotWritten:
            ++c.differs;
            break;
        case CompareMark::Refused:
            ++c.differs;
            ++c.refused;
            break;
        case CompareMark::DiffersAfterWrite:
            ++c.differs;
            ++c.differsAfterWrite;
            break;
        case CompareMark::NotRead:
        case CompareMark::NotReadBack:
            ++c.notRead;
            break;
        case CompareMark::NothingStored:
            ++c.nothingStored;
            break;
        default:
            break;
        }
    }
    return c;
}

QString CompareRun::countsText() const {
    const Counts c = counts();
    QString text = QStringLiteral("Отличаются: %1, совпадают: %2, не прочитаны: %3")
                       .arg(c.differs)
                       .arg(c.same)
                       .arg(c.notRead);
    if (c.nothingStored > 0)
        text += QStringLiteral(", без значения в списке: %1").arg(c.nothingStored);
    if (c.confirmed + c.refused + c.differsAfterWrite > 0)
        text += QStringLiteral("; записаны: %1, отклонены: %2, другое после записи: %3")
                    .arg(c.confirmed)
                    .arg(c.refused)
                    .arg(c.differsAfterWrite);
    return text;
}

void CompareRun::showCounts() { display_.setProgressText(countsText()); }

} // namespace parvault
