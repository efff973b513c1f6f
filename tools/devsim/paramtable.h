#pragma once

// The simulated device's parameters, and the parameter file they come from.

#include "failuremodes.h"

#include <QString>

#include <compare>
#include <map>
#include <optional>

namespace parvault::devsim {

// The parameter number of a data block.
inline constexpr int kBlockParam = 65530;

struct ParamKey {
    int channel = 0;
    int param = 0;
    int index = 0;
    auto operator<=>(const ParamKey&) const = default;
};

struct ParamEntry {
    QString value;
    QString units;
    bool readOnly = false;
    Failure failure;
};

class ParamTable {
public:
    // Reads the text of a parameter file. With a type, only the lines before
    // any section and those of "[type N]" count. False with a message
    // naming the line on a syntax error.
    bool parse(const QString& text, std::optional<int> type, QString* error);
    bool load(const QString& path, std::optional<int> type, QString* error);

    std::map<ParamKey, ParamEntry>& entries() { return entries_; }
    const std::map<ParamKey, ParamEntry>& entries() const { return entries_; }

private:
    std::map<ParamKey, ParamEntry> entries_;
};

} // namespace parvault::devsim
