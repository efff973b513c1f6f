#include "codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>

namespace parvault {

QString OemToAnsi(std::span<const uint8_t> bytes) {
    const auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
    const auto n = static_cast<qsizetype>(end - bytes.begin());
    thread_local QStringDecoder decoder("IBM866");
    decoder.resetState();
    return decoder.decode(QByteArrayView(reinterpret_cast<const char*>(bytes.data()), n));
}

std::vector<uint8_t> AnsiToOem(const QString& text) {
    thread_local QStringEncoder encoder("IBM866");
    encoder.resetState();
    const QByteArray bytes = encoder.encode(text);
    return {bytes.begin(), bytes.end()};
}

QByteArray toAnsiBytes(const QString& text) {
    thread_local QStringEncoder encoder("windows-1251");
    encoder.resetState();
    return encoder.encode(text);
}

} // namespace parvault
