#pragma once

// The exchange log: every frame sent and taken, with the events that explain
// them, kept in a bounded ring so that memory stays bounded however long the
// program runs. Any thread may record; a record holds the lock only to move
// a finished entry into the ring. Formatting (and decoding) happens on the
// reader's side, so recording costs the exchange next to nothing.

#include "exchangeevents.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

namespace parvault {

// Entries kept by default: the most recent ones.
inline constexpr size_t kExchangeLogCapacity = 20000;

enum class EntryKind {
    Sent,    // a frame or optical message the program sent
    Arrived, // bytes the link delivered
    Link,    // the link's own step: opened, reopened, closed (text given)
    Event,   // an ExchangeEvent
};

struct LogEntry {
    uint64_t serial = 0; // counts every entry ever recorded, from 0
    int64_t ms = 0;      // since the exchange began
    EntryKind kind = EntryKind::Event;
    QString route;       // "COM7 9600 бод", "UDP 127.0.0.1:4001"; empty for events
    std::vector<uint8_t> bytes;
    QString text;        // the link step's text
    ExchangeEvent event = ExchangeEvent::Started;
    int64_t a = 0;
    int64_t b = 0;
};

class ExchangeLog final : public ExchangeEvents {
public:
    // Milliseconds on some steady clock; the log counts from each exchange's start.
    using Clock = std::function<int64_t()>;

    explicit ExchangeLog(size_t capacity = kExchangeLogCapacity, Clock clock = {});

    void event(ExchangeEvent kind, int64_t a = 0, int64_t b = 0) override;
    // Shown as the bytes that arrived, then why they were not taken.
    void lateDatagram(std::span<const uint8_t> bytes, uint32_t address, uint16_t port) override;
    void frame(EntryKind direction, const QString& route, std::span<const uint8_t> bytes);
    void link(const QString& route, const QString& text);

    struct Slice {
        std::vector<LogEntry> entries; // in order
        uint64_t next = 0;             // the serial the next entry will get
    };
    // The entries kept whose serial is `from` or later.
    Slice since(uint64_t from) const;
    // Entries dropped to keep the bound, since the last clear.
    uint64_t dropped() const;
    size_t size() const;
    size_t capacity() const { return capacity_; }
    // Forgets every entry kept (serials go on counting).
    void clear();

private:
    void push(LogEntry entry);
    int64_t now() const;

    const size_t capacity_;
    Clock clock_;
    mutable std::mutex mutex_;
    std::deque<LogEntry> ring_;
    uint64_t next_ = 0;
    uint64_t dropped_ = 0;
    int64_t origin_ = 0;
};

// One line of the log as the window and the trace file show it.
QString FormatEntry(const LogEntry& entry);
// The line that stands for entries lost between two that were kept.
QString DroppedLine(uint64_t count);

// Follows a log for one reader (the window, a trace file): each call gives
// the lines recorded since the last one, with a line saying how many were
// dropped before this reader saw them.
class TraceReader {
public:
    explicit TraceReader(const ExchangeLog& log) : log_(log) {}
    QStringList newLines();

private:
    const ExchangeLog& log_;
    uint64_t next_ = 0;
};

} // namespace parvault
