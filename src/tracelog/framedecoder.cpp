#include "framedecoder.h"

#include "answer.h"
#include "codepage.h"
#include "connectionsettings.h"
#include "frame.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace parvault {

namespace {

const QString kSep = QStringLiteral("; ");

QString Quoted(const QString& text) { return QStringLiteral("«%1»").arg(text); }

QString BaudText(int speedIndex) {
    if (speedIndex < 0 || speedIndex > 9)
        return QStringLiteral("?");
    return QStringLiteral("%1 бод").arg(SpeedTable[static_cast<size_t>(speedIndex)]);
}

QString Digits(std::span<const uint8_t> bytes) {
    QString out;
    for (uint8_t b : bytes)
        out += (b >= 0x20 && b < 0x7F) ? QChar(b) : QChar(u'·');
    return out;
}

// Where a frame lies in a delivery: from its DLE SOH through the second CRC
// byte, ended by the first DLE ETX as the assembler ends it.
struct FrameSpan {
    size_t begin = 0; // the DLE of DLE SOH
    size_t end = 0;   // one past the second CRC byte
};

std::optional<FrameSpan> FindFrame(std::span<const uint8_t> b) {
    for (size_t i = 0; i + 1 < b.size(); ++i) {
        if (b[i] != DLE || b[i + 1] != SOH)
            continue;
        for (size_t k = i + 2; k + 1 < b.size(); ++k) {
            if (b[k] == DLE && b[k + 1] == SOH)
                break; // a new frame starts before this one ended
            if (b[k] == DLE && b[k + 1] == ETX) {
                if (k + 4 <= b.size())
                    return FrameSpan{i, k + 4};
                return std::nullopt;
            }
        }
        return std::nullopt;
    }
    return std::nullopt;
}

// The fields of a request's data section: groups closed by FF, fields
// separated by HT (the leading HT of a group opens its first field).
std::vector<std::vector<std::span<const uint8_t>>> Groups(std::span<const uint8_t> data) {
    std::vector<std::vector<std::span<const uint8_t>>> groups(1);
    size_t start = 0;
    bool fieldOpen = false;
    for (size_t i = 0; i <= data.size(); ++i) {
        const bool end = i == data.size();
        const uint8_t c = end ? FF : data[i];
        if (c == HT || c == FF) {
            if (fieldOpen || i > start)
                groups.back().push_back(data.subspan(start, i - start));
            fieldOpen = c == HT;
            start = i + 1;
            if (c == FF && !end)
                groups.emplace_back();
        }
    }
    while (!groups.empty() && groups.back().empty())
        groups.pop_back();
    return groups;
}

QString RequestFields(uint8_t function, std::span<const uint8_t> data) {
    const auto groups = Groups(data);
    if (groups.empty() || groups[0].empty())
        return QStringLiteral("без полей");
    const auto& g = groups[0];
    QStringList parts;
    static const std::array<const char16_t*, 3> names{u"канал", u"параметр", u"индекс"};
    const bool indexed = function == FN_READ_INDEXED || function == FN_WRITE_INDEXED;
    const size_t named = std::min<size_t>(g.size(), indexed ? 3 : 2);
    for (size_t i = 0; i < named; ++i)
        parts << QStringLiteral("%1 %2").arg(QString::fromUtf16(names[i]), Digits(g[i]));
    QString out = parts.join(QStringLiteral(", "));
    if (function == FN_WRITE || function == FN_WRITE_INDEXED) {
        const QString value = groups.size() > 1 && !groups[1].empty() ? OemToAnsi(groups[1][0]) : QString();
        out += QStringLiteral(", значение %1").arg(Quoted(value));
    }
    return out;
}

QString AnswerFields(std::span<const uint8_t> body) {
    const ParsedAnswer a = ParseAnswer(body);
    switch (a.function) {
    case FN_VALUE:
    case FN_VALUE_INDEXED: {
        QString out = QStringLiteral("значение %1").arg(Quoted(a.value.value_or(QString())));
        if (a.units)
            out += QStringLiteral(", единицы %1").arg(Quoted(*a.units));
        return out;
    }
    case FN_DATA_BLOCK:
        return QStringLiteral("%1 байт").arg(a.dataBlock.size());
    case FN_ERROR:
        if (a.result == ANSWER_OK)
            return QStringLiteral("текст ошибки пуст: выполнено");
        return QStringLiteral("ошибка %1").arg(Quoted(a.value.value_or(QString())));
    default:
        return QString();
    }
}

// `body` runs from the byte after DLE SOH through the second CRC byte.
QString DecodeFrameBody(std::span<const uint8_t> body, FrameDirection direction) {
    size_t us = 0;
    while (us + 1 < body.size() && !(body[us] == DLE && body[us + 1] == US))
        ++us;
    QStringList parts;
    if (us + 1 >= body.size() || us + 2 >= body.size())
        parts << QStringLiteral("нет кода функции");
    else {
        if (us > 0) {
            const auto address = body.first(us);
            if (direction == FrameDirection::Request && address.size() >= 2)
                parts << QStringLiteral("адрес устройства %1, свой %2")
                             .arg(address[0])
                             .arg(address.back() & 0x7F);
            else
                parts << QStringLiteral("адрес %1").arg(HexBytes(address));
        }
        const uint8_t function = body[us + 2];
        const size_t seqAt = us + 3;
        const QString seq = seqAt + 3 <= body.size() ? Digits(body.subspan(seqAt, 3)) : QStringLiteral("?");
        parts.prepend(QStringLiteral("%1 %2")
                          .arg(function, 2, 16, QChar(u'0'))
                          .toUpper()
                          .arg(FunctionMeaning(function, direction)));
        parts << QStringLiteral("№ %1").arg(seq);
        // The data section: after DLE STX up to DLE ETX.
        size_t stx = seqAt;
        while (stx + 1 < body.size() && !(body[stx] == DLE && body[stx + 1] == STX))
            ++stx;
        size_t etx = stx + 2;
        while (etx + 1 < body.size() && !(body[etx] == DLE && body[etx + 1] == ETX))
            ++etx;
        if (stx + 1 < body.size() && etx + 1 < body.size()) {
            const auto data = body.subspan(stx + 2, etx - (stx + 2));
            const QString fields =
                direction == FrameDirection::Request ? RequestFields(function, data) : AnswerFields(body);
            if (!fields.isEmpty())
                parts << fields;
        }
    }
    parts << (Crc16(body) == 0 ? QStringLiteral("CRC верна") : QStringLiteral("CRC неверна"));
    return parts.join(kSep);
}

std::vector<uint8_t> SevenBit(std::span<const uint8_t> bytes) {
    std::vector<uint8_t> out(bytes.begin(), bytes.end());
    for (auto& c : out)
        c &= 0x7F;
    return out;
}

std::optional<QString> DecodeOptical(std::span<const uint8_t> bytes, FrameDirection direction) {
    if (bytes.empty())
        return std::nullopt;
    const std::vector<uint8_t> c = SevenBit(bytes);
    const std::vector<uint8_t> signOn = signOnMessage();
    if (direction == FrameDirection::Request) {
        if (std::equal(bytes.begin(), bytes.end(), signOn.begin(), signOn.end()))
            return QStringLiteral("вход в оптический порт «/?!»");
        if (c.size() == 6 && c[0] == ACK && c[1] == '0' && c[3] == '3' && c[4] == CR && c[5] == LF) {
            const int speed = c[2] - '0';
            return QStringLiteral("выбор режима: скорость %1 (%2)").arg(speed).arg(BaudText(speed));
        }
        return std::nullopt;
    }
    if (c.size() == 1 && c[0] == ACK)
        return QStringLiteral("подтверждение (ACK)");
    if (c[0] == '/' && c.size() >= 2 && c[c.size() - 1] == LF) {
        const bool withCr = c.size() >= 3 && c[c.size() - 2] == CR;
        const size_t textLength = c.size() - (withCr ? 2 : 1);
        const QString line = QString::fromLatin1(reinterpret_cast<const char*>(c.data()),
                                                 static_cast<qsizetype>(textLength));
        if (!withCr)
            return QStringLiteral("строка идентификации %1 без CR: не принята").arg(Quoted(line));
        if (textLength <= static_cast<size_t>(kIdentSpeedPos))
            return QStringLiteral("строка идентификации %1: слишком коротка для скорости").arg(Quoted(line));
        const int speed = identSpeedIndex(c[kIdentSpeedPos]);
        return QStringLiteral("строка идентификации %1: скорость %2 (%3)")
            .arg(Quoted(line))
            .arg(speed)
            .arg(BaudText(speed));
    }
    return std::nullopt;
}

} // namespace

QString FunctionMeaning(uint8_t code, FrameDirection direction) {
    if (direction == FrameDirection::Request) {
        switch (code) {
        case FN_READ: return QStringLiteral("чтение параметра");
        case FN_READ_INDEXED: return QStringLiteral("чтение индексного параметра");
        case FN_READ_BLOCK: return QStringLiteral("чтение блока данных");
        case FN_WRITE: return QStringLiteral("запись параметра");
        case FN_WRITE_INDEXED: return QStringLiteral("запись индексного параметра");
        default: break;
        }
    } else {
        switch (code) {
        case FN_VALUE: return QStringLiteral("значение параметра");
        case FN_VALUE_INDEXED: return QStringLiteral("значение индексного параметра");
        case FN_DATA_BLOCK: return QStringLiteral("блок данных");
        case FN_ERROR: return QStringLiteral("ответ об ошибке");
        default: break;
        }
    }
    return QStringLiteral("неизвестная функция");
}

QString HexBytes(std::span<const uint8_t> bytes) {
    static const char digits[] = "0123456789ABCDEF";
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size() * 3));
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            out += QChar(u' ');
        out += QChar(digits[bytes[i] >> 4]);
        out += QChar(digits[bytes[i] & 0x0F]);
    }
    return out;
}

QString DecodeBytes(std::span<const uint8_t> bytes, FrameDirection direction) {
    if (const auto optical = DecodeOptical(bytes, direction))
        return *optical;
    const auto frame = FindFrame(bytes);
    if (!frame)
        return QStringLiteral("не целый кадр (%1 байт)").arg(bytes.size());
    QString out = DecodeFrameBody(bytes.subspan(frame->begin + 2, frame->end - frame->begin - 2), direction);
    if (frame->begin > 0)
        out += QStringLiteral("; %1 байт перед кадром").arg(frame->begin);
    if (frame->end < bytes.size())
        out += QStringLiteral("; %1 байт после кадра").arg(bytes.size() - frame->end);
    return out;
}

} // namespace parvault
