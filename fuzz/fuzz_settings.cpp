// The settings loader on arbitrary files, and everything that reads the
// loaded record: the accessors must turn out-of-range choices into none.

#include "connectionsettings.h"
#include "fuzzcommon.h"
#include "requests.h"

#include <cstdio>
#include <cstring>

using namespace parvault;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::QuietLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = (fuzzing::ScratchDir() / "Parvault2.i").string();
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f)
            std::abort();
        if (size && std::fwrite(data, 1, size, f) != size)
            std::abort();
        std::fclose(f);
    }
    ConnectionSettings s;
    const ConnectionSettings before = s;
    LoadSettings(s, path);

    // The file's bytes are the record's bytes, as far as the file goes.
    const auto bytes = SerializeSettings(s);
    const auto defaults = SerializeSettings(before);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint8_t expected = i < size ? data[i] : defaults[i];
        if (bytes[i] != expected)
            std::abort();
    }

    // Out-of-range choices are none, never an index past a table.
    if (const auto port = s.chosenPortNumber()) {
        if (!s.hasValidPortIndex() || *port <= 0)
            std::abort();
    } else if (s.hasValidPortIndex() && s.portNumbers[static_cast<size_t>(s.portIndex)] > 0) {
        std::abort();
    }
    if (const auto baud = s.baudRate()) {
        if (std::find(SpeedTable.begin(), SpeedTable.end(), *baud) == SpeedTable.end())
            std::abort();
    } else if (s.hasValidSpeedIndex()) {
        std::abort();
    }
    // What the exchange builds from the record.
    const BusAddress address = busAddressFrom(s);
    (void)AddressBlock(address);
    (void)s.udpPortNumber();

    // Saved and loaded again, the record is the same.
    if (!SaveSettings(s, path))
        std::abort();
    ConnectionSettings again;
    LoadSettings(again, path);
    if (!(again == s))
        std::abort();
    return 0;
}
