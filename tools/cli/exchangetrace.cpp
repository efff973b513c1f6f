#include "exchangetrace.h"

namespace parvault::cli {

ExchangeTrace::ExchangeTrace(const std::optional<QString>& path, ExchangeLog* shared, std::ostream& err)
    : wanted_(path.has_value()), path_(path), shared_(shared), err_(err) {}

bool ExchangeTrace::open(QString* why) {
    if (!wanted_)
        return true;
    if (*path_ != QLatin1String("-")) {
        file_.emplace(*path_);
        if (!file_->open(why))
            return false;
    }
    if (!shared_)
        ownLog_.emplace();
    recordInto_ = shared_ ? shared_ : &*ownLog_;
    reader_.emplace(*recordInto_);
    return true;
}

void ExchangeTrace::writeNew() {
    if (!reader_)
        return;
    for (const QString& line : reader_->newLines()) {
        if (!file_) {
            err_ << line.toUtf8().constData() << '\n';
        } else if (problem_.isEmpty()) {
            file_->write(line.toUtf8() + '\n', &problem_);
        }
    }
}

QString ExchangeTrace::finish() {
    writeNew();
    if (onStandardError())
        err_.flush();
    if (file_ && problem_.isEmpty())
        file_->commit(&problem_);
    return problem_;
}

} // namespace parvault::cli
