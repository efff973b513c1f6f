#pragma once

// What the first page of a file says about it, before any library reads it:
// whether it is a Jet database we can read, and if not, why not.

#include <cstddef>
#include <cstdint>

namespace parvault::jet {

enum class JetKind {
    Jet3,     // 2 KB pages, texts in the Windows code page
    Jet4,     // 4 KB pages, UCS-2 texts
    NotJet,   // no Jet engine name at offset 4 (e.g. one of our own files)
    Newer,    // the newer engine's files (".accdb" content), not readable
    Password, // a database password is set
    Damaged,  // a Jet header, but the file cannot be whole
};

// Bytes of the header page that decide: the engine name and version, and the
// stretch holding the key and the password.
inline constexpr size_t kProbeBytes = 0xA0;
inline constexpr int kJet3PageSize = 2048;
inline constexpr int kJet4PageSize = 4096;

struct JetHeader {
    JetKind kind = JetKind::NotJet;
    int pageSize = 0;
};

// head: the first bytes of the file (fewer than kProbeBytes only when the
// file is that short); fileSize: the whole file's size.
JetHeader ProbeJetHeader(const uint8_t* head, size_t size, uint64_t fileSize);

// True when the first bytes carry a Jet or newer-engine name, whatever else
// is wrong with the file.
bool HasJetSignature(const uint8_t* head, size_t size);

// Exit statuses of parvault2-jetread, one per kind of failure.
enum ReadStatus : int {
    kReadOk = 0,
    // Wrong arguments, or the file cannot be read at all. Not 1: that is what
    // a runtime's abort handler (a sanitizer's report, for one) exits with.
    kReadUsage = 64,
    kReadNotJet = 2,
    kReadNewer = 3,
    kReadPassword = 4,
    kReadDamaged = 5,
};

} // namespace parvault::jet
