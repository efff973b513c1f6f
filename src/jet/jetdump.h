#pragma once

// Reads a Jet file with libmdb and writes all its user tables in the stream
// format of jetstream.h.

#include "jetprobe.h"

#include <functional>
#include <string>
#include <string_view>

namespace parvault::jet {

// Receives the stream in pieces, in order.
using StreamSink = std::function<void(std::string_view)>;

// Returns a ReadStatus; on failure `why` says what is wrong (English, for
// the helper's error output). Nothing is written to the sink after a failure
// has been found, but what was written before stays: callers take the stream
// only when the status is kReadOk.
int DumpJetFile(const std::string& path, const StreamSink& sink, std::string* why);

} // namespace parvault::jet
