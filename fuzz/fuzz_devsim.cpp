// The simulator's request handling: whole frames (half of them given a valid
// checksum so that the request parse is reached) and byte streams in pieces,
// optical sign-on included.

#include "devicemodel.h"
#include "fuzzcommon.h"

using namespace parvault::devsim;

namespace {

ParamTable Table() {
    static const ParamTable table = [] {
        ParamTable t;
        QString error;
        const QString text = QStringLiteral(
            "1 52 0 | 12,5 | кг/ч\n"
            "1 310 3 | 7 | шт | ro\n"
            "2 65530 0 | Блок данных\\tстрока 2 | |\n"
            "3 100 0 | 0 | | error=\"Нет связи\"\n"
            "4 7 0 | 1 | | wrongseq=2\n"
            "5 8 0 | 2 | | badcrc\n"
            "6 9 0 | 3 | | pieces=3 delay=5\n"
            "7 10 0 | 4 | | silent=1\n");
        if (!t.parse(text, std::nullopt, &error))
            std::abort();
        return t;
    }();
    return table;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::QuietLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    DeviceConfig config;
    config.deviceAddress = fdp.ConsumeIntegralInRange<int>(0, 255);
    config.answerAny = fdp.ConsumeBool();
    const int mode = fdp.ConsumeIntegralInRange<int>(0, 2);
    DeviceModel model(Table(), config);

    if (mode == 0) {
        // One request frame; the body gets DLE SOH in front and a valid CRC behind.
        Bytes frame = {0x10, 0x01};
        const Bytes body = fdp.ConsumeRemainingBytes<uint8_t>();
        frame.insert(frame.end(), body.begin(), body.end());
        const uint16_t crc = DeviceCrc(std::span<const uint8_t>(frame).subspan(2));
        frame.push_back(static_cast<uint8_t>(crc >> 8));
        frame.push_back(static_cast<uint8_t>(crc & 0xFF));
        if (auto reply = model.handleFrame(frame, "udp"))
            if (reply->pieces < 1 || reply->delayMs < 0)
                std::abort();
        return 0;
    }
    if (mode == 1) {
        const Bytes frame = fdp.ConsumeRemainingBytes<uint8_t>();
        model.handleFrame(frame, "udp");
        return 0;
    }
    StreamDevice::Optical optical;
    optical.enabled = fdp.ConsumeBool();
    optical.speedChar = fdp.ConsumeIntegral<char>();
    StreamDevice device(model, optical);
    static constexpr int kBauds[] = {300, 600, 1200, 9600, 115200};
    while (fdp.remaining_bytes() > 0) {
        const int baud = kBauds[fdp.ConsumeIntegralInRange<size_t>(0, std::size(kBauds) - 1)];
        const Bytes piece = fdp.ConsumeBytes<uint8_t>(fdp.ConsumeIntegralInRange<size_t>(0, 512));
        for (const Reply& r : device.feed(piece, baud))
            if (r.pieces < 1)
                std::abort();
    }
    return 0;
}
