#include "exchangelog.h"

#include "answer.h"
#include "framedecoder.h"

#include <chrono>

namespace parvault {

namespace {

int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString Address(int64_t ip) {
    const auto v = static_cast<uint32_t>(ip);
    return QStringLiteral("%1.%2.%3.%4").arg(v >> 24).arg((v >> 16) & 0xFF).arg((v >> 8) & 0xFF).arg(v & 0xFF);
}

QString EventText(const LogEntry& e) {
    switch (e.event) {
    case ExchangeEvent::Started:
        return e.a ? QStringLiteral("начало записи") : QStringLiteral("начало чтения");
    case ExchangeEvent::Resent:
        return QStringLiteral("повтор запроса строки %1, попытка %2").arg(e.a + 1).arg(e.b);
    case ExchangeEvent::TimedOut:
        return QStringLiteral("нет ответа для строки %1: время ожидания вышло").arg(e.a + 1);
    case ExchangeEvent::OtherSequence:
        return QStringLiteral("ответ с номером %1 не для этой строки (ждём %2): пропущен")
            .arg(e.a, 3, 10, QChar(u'0'))
            .arg(e.b, 3, 10, QChar(u'0'));
    case ExchangeEvent::CrcFailed:
        return QStringLiteral("ошибка CRC в ответе для строки %1").arg(e.a + 1);
    case ExchangeEvent::IdentSpeed:
        return QStringLiteral("устройство предлагает скорость %1 (%2 бод)").arg(e.a).arg(e.b);
    case ExchangeEvent::Acknowledged:
        return QStringLiteral("устройство подтвердило выбор режима");
    case ExchangeEvent::Ended:
        return QStringLiteral("обмен завершён");
    case ExchangeEvent::Stopped:
        return QStringLiteral("обмен остановлен");
    case ExchangeEvent::OtherRequest:
        return QStringLiteral("ответ с номером %1 не на запрос строки %2 (другое устройство, функция или поля): пропущен")
            .arg(e.a, 3, 10, QChar(u'0'))
            .arg(e.b + 1);
    case ExchangeEvent::Discarded:
        return QStringLiteral("%1 байт от прежних запросов отброшено перед запросом").arg(e.a);
    case ExchangeEvent::LateDatagram:
        return QStringLiteral("датаграмма устройства (%1 байт) пришла после времени ожидания: отброшена")
            .arg(e.a);
    case ExchangeEvent::LinkDropped:
        return QStringLiteral("сервер портов закрыл соединение");
    case ExchangeEvent::LinkReconnected:
        return e.a ? QStringLiteral("соединение с сервером портов восстановлено для следующего запроса")
                   : QStringLiteral("соединение с сервером портов не восстановлено: запрос не отправлен");
    case ExchangeEvent::DataBlockNotSaved:
        return QStringLiteral("блок данных (%1 байт) не сохранён в файл %2").arg(e.a).arg(QLatin1String(kDataBlockFile));
    case ExchangeEvent::ForeignDatagram:
        return QStringLiteral("датаграмма с чужого адреса %1:%2 пропущена").arg(Address(e.a)).arg(e.b);
    }
    return QString();
}

} // namespace

ExchangeLog::ExchangeLog(size_t capacity, Clock clock)
    : capacity_(capacity == 0 ? 1 : capacity), clock_(clock ? std::move(clock) : Clock(SteadyMs)) {
    origin_ = clock_();
}

int64_t ExchangeLog::now() const { return clock_(); }

void ExchangeLog::push(LogEntry entry) {
    std::lock_guard lock(mutex_);
    if (entry.kind == EntryKind::Event && entry.event == ExchangeEvent::Started)
        origin_ = entry.ms;
    entry.ms -= origin_;
    entry.serial = next_++;
    ring_.push_back(std::move(entry));
    while (ring_.size() > capacity_) {
        ring_.pop_front();
        ++dropped_;
    }
}

void ExchangeLog::event(ExchangeEvent kind, int64_t a, int64_t b) {
    LogEntry e;
    e.ms = now();
    e.kind = EntryKind::Event;
    e.event = kind;
    e.a = a;
    e.b = b;
    push(std::move(e));
}

void ExchangeLog::lateDatagram(std::span<const uint8_t> bytes, uint32_t address, uint16_t port) {
    frame(EntryKind::Arrived, QStringLiteral("UDP %1:%2").arg(Address(address)).arg(port), bytes);
    event(ExchangeEvent::LateDatagram, static_cast<int64_t>(bytes.size()));
}

void ExchangeLog::frame(EntryKind direction, const QString& route, std::span<const uint8_t> bytes) {
    LogEntry e;
    e.ms = now();
    e.kind = direction;
    e.route = route;
    e.bytes.assign(bytes.begin(), bytes.end());
    push(std::move(e));
}

void ExchangeLog::link(const QString& route, const QString& text) {
    LogEntry e;
    e.ms = now();
    e.kind = EntryKind::Link;
    e.route = route;
    e.text = text;
    push(std::move(e));
}

ExchangeLog::Slice ExchangeLog::since(uint64_t from) const {
    std::lock_guard lock(mutex_);
    Slice slice;
    slice.next = next_;
    if (ring_.empty() || from >= next_)
        return slice;
    const uint64_t first = ring_.front().serial;
    const size_t skip = from > first ? static_cast<size_t>(from - first) : 0;
    slice.entries.assign(ring_.begin() + static_cast<std::ptrdiff_t>(skip), ring_.end());
    return slice;
}

uint64_t ExchangeLog::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

size_t ExchangeLog::size() const {
    std::lock_guard lock(mutex_);
    return ring_.size();
}

void ExchangeLog::clear() {
    std::lock_guard lock(mutex_);
    ring_.clear();
    dropped_ = 0;
}

QString FormatEntry(const LogEntry& e) {
    const int64_t ms = e.ms < 0 ? 0 : e.ms;
    const QString time = QString::asprintf("%4lld.%03lld", static_cast<long long>(ms / 1000),
                                           static_cast<long long>(ms % 1000));
    switch (e.kind) {
    case EntryKind::Sent:
    case EntryKind::Arrived: {
        const bool sent = e.kind == EntryKind::Sent;
        return QStringLiteral("%1 %2 %3  %4  | %5")
            .arg(time, sent ? QStringLiteral("→") : QStringLiteral("←"), e.route, HexBytes(e.bytes),
                 DecodeBytes(e.bytes, sent ? FrameDirection::Request : FrameDirection::Answer));
    }
    case EntryKind::Link:
        return QStringLiteral("%1 • %2: %3").arg(time, e.route, e.text);
    case EntryKind::Event:
        return QStringLiteral("%1 • %2").arg(time, EventText(e));
    }
    return time;
}

QString DroppedLine(uint64_t count) {
    return QStringLiteral("… %1 более ранних записей удалено: журнал хранит последние").arg(count);
}

QStringList TraceReader::newLines() {
    const ExchangeLog::Slice slice = log_.since(next_);
    QStringList lines;
    if (!slice.entries.empty() && slice.entries.front().serial > next_)
        lines << DroppedLine(slice.entries.front().serial - next_);
    for (const LogEntry& e : slice.entries)
        lines << FormatEntry(e);
    next_ = slice.next;
    return lines;
}

} // namespace parvault
