#include "jetprobe.h"

#include <algorithm>
#include <cstring>

namespace parvault::jet {

namespace {

constexpr size_t kEngineNameOffset = 4;
constexpr char kJetEngine[] = "Standard Jet DB";
constexpr char kAceEngine[] = "Standard ACE DB";
constexpr size_t kVersionOffset = 0x14;
// The header stretch from 0x18 is RC4-encoded with a fixed key; inside it
// lie the database password and, in Jet 4, the creation date that masks it.
constexpr size_t kEncodedFrom = 0x18;
constexpr size_t kEncodedSizeJet3 = 126;
constexpr size_t kEncodedSizeJet4 = 128;
constexpr uint8_t kHeaderKey[4] = {0xc7, 0xda, 0x39, 0x6b};
constexpr size_t kPasswordOffset = 0x42;
constexpr size_t kPasswordSizeJet3 = 20;
constexpr size_t kPasswordSizeJet4 = 40;
constexpr size_t kCreationDateOffset = 0x72;
// The header page, the usage maps and the catalogue's definition at least.
constexpr uint64_t kMinPages = 3;

void rc4(const uint8_t* key, size_t keyLength, uint8_t* data, size_t length) {
    uint8_t s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<uint8_t>(i);
    uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<uint8_t>(j + s[i] + key[static_cast<size_t>(i) % keyLength]);
        std::swap(s[i], s[j]);
    }
    uint8_t x = 0, y = 0;
    for (size_t n = 0; n < length; ++n) {
        x = static_cast<uint8_t>(x + 1);
        y = static_cast<uint8_t>(y + s[x]);
        std::swap(s[x], s[y]);
        data[n] ^= s[static_cast<uint8_t>(s[x] + s[y])];
    }
}

bool allZero(const uint8_t* p, size_t n) {
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

bool hasPassword(const uint8_t* head, bool jet3) {
    const size_t encodedSize = jet3 ? kEncodedSizeJet3 : kEncodedSizeJet4;
    uint8_t plain[kEncodedSizeJet4];
    std::memcpy(plain, head + kEncodedFrom, encodedSize);
    rc4(kHeaderKey, sizeof kHeaderKey, plain, encodedSize);
    const uint8_t* pw = plain + (kPasswordOffset - kEncodedFrom);
    if (jet3)
        return !allZero(pw, kPasswordSizeJet3);
    if (allZero(pw, kPasswordSizeJet4))
        return false;
    // Jet 4 masks the password with the whole days of the creation date, so
    // an engine that writes the mask over an empty password leaves the mask.
    double created = 0;
    std::memcpy(&created, plain + (kCreationDateOffset - kEncodedFrom), sizeof created);
    uint32_t days = 0;
    if (created > -2147483648.0 && created < 2147483648.0)
        days = static_cast<uint32_t>(static_cast<int32_t>(created));
    for (size_t i = 0; i < kPasswordSizeJet4; ++i)
        if ((pw[i] ^ static_cast<uint8_t>(days >> (8 * (i % 4)))) != 0)
            return true;
    return false;
}

uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

bool HasJetSignature(const uint8_t* head, size_t size) {
    if (size < kEngineNameOffset + sizeof kJetEngine)
        return false;
    const uint8_t* name = head + kEngineNameOffset;
    return std::memcmp(name, kJetEngine, sizeof kJetEngine) == 0 ||
           std::memcmp(name, kAceEngine, sizeof kAceEngine) == 0;
}

JetHeader ProbeJetHeader(const uint8_t* head, size_t size, uint64_t fileSize) {
    JetHeader h;
    if (!HasJetSignature(head, size))
        return h;
    if (size < kProbeBytes) {
        h.kind = JetKind::Damaged;
        return h;
    }
    const bool ace = std::memcmp(head + kEngineNameOffset, kAceEngine, sizeof kAceEngine) == 0;
    const uint32_t version = get32(head + kVersionOffset);
    if (ace || version >= 2) {
        h.kind = JetKind::Newer;
        return h;
    }
    const bool jet3 = version == 0;
    h.pageSize = jet3 ? kJet3PageSize : kJet4PageSize;
    // A cut file reads as zeros past its end, which the library takes for
    // rows of Nulls: a whole number of pages is the one sign it is whole.
    if (fileSize < kMinPages * uint64_t(h.pageSize) || fileSize % uint64_t(h.pageSize) != 0) {
        h.kind = JetKind::Damaged;
        return h;
    }
    h.kind = hasPassword(head, jet3) ? JetKind::Password : (jet3 ? JetKind::Jet3 : JetKind::Jet4);
    return h;
}

} // namespace parvault::jet
