#include "jetdump.h"

#include "jetstream.h"

// mdbtools.h includes glib.h inside its extern "C" block, which C++ rejects
// for glib's templates; included first, the include guards keep it out.
#include <glib.h>
#include <iconv.h>
#include <mdbtools.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace parvault::jet {

namespace {

// Room for the longest text a bound column may return: a memo of 64 K
// characters, three bytes each in UTF-8, and its terminator.
constexpr size_t kBindBytes = 3 * 65536 + 16;
// Rows per page can be no more than this, whatever a hostile page claims;
// with the page count it bounds a table's rows, so no file loops forever.
constexpr uint64_t kMaxRowsPerPage = 1024;
// Flags of the engine's own objects in the catalogue.
constexpr int kSystemObjectFlags = static_cast<int>(0x80000002u);
// The engine's own limit on a file's size (2 GB).
constexpr uint64_t kMaxFileBytes = 2ULL * 1024 * 1024 * 1024;
// Everything is written in pieces of about this size.
constexpr size_t kFlushBytes = 64 * 1024;

struct MdbCloser {
    void operator()(MdbHandle* mdb) const { mdb_close(mdb); }
};
struct Unmapper {
    size_t length;
    void operator()(uint8_t* p) const { ::munmap(p, length); }
};
// What an empty file's bytes are read from.
const uint8_t kNoBytes[1] = {0};
struct TableFreer {
    void operator()(MdbTableDef* t) const { mdb_free_tabledef(t); }
};

class Writer {
public:
    explicit Writer(const StreamSink& sink) : m_sink(sink) { m_buf.reserve(kFlushBytes * 2); }
    ~Writer() = default;
    void byte(char c) { m_buf.push_back(c); }
    void u16(uint16_t v) {
        m_buf.push_back(static_cast<char>(v & 0xFF));
        m_buf.push_back(static_cast<char>(v >> 8));
    }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i)
            m_buf.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
    void text(std::string_view s) {
        u32(static_cast<uint32_t>(s.size()));
        m_buf.append(s);
        maybeFlush();
    }
    void null() { u32(kNullLength); }
    void raw(std::string_view s) { m_buf.append(s); }
    void maybeFlush() {
        if (m_buf.size() >= kFlushBytes)
            flush();
    }
    void flush() {
        if (!m_buf.empty())
            m_sink(m_buf);
        m_buf.clear();
    }

private:
    const StreamSink& m_sink;
    std::string m_buf;
};

bool isSystemTable(const MdbCatalogEntry* e) {
    return strncasecmp(e->object_name, "MSys", 4) == 0 || (e->flags & kSystemObjectFlags) == kSystemObjectFlags;
}

// Columns whose values libmdb turns into text; the others come as Null.
bool readable(int type) {
    switch (type) {
    case kColBool: case kColByte: case kColInt: case kColLong: case kColMoney:
    case kColFloat: case kColDouble: case kColDateTime: case kColText: case kColMemo:
        return true;
    default:
        return false;
    }
}

int fail(std::string* why, int status, const std::string& text) {
    if (why)
        *why = text;
    return status;
}

// A file's bytes mapped read-only; no bytes when the file is empty.
struct MappedFile {
    std::unique_ptr<uint8_t, Unmapper> bytes;
    size_t size = 0;
};

// Maps path into file. kReadOk, or the status saying why it cannot.
//
// The file is mapped: the library then reads its pages from memory, not
// with a seek and a read (two system calls) for each page and each long
// text, which made most of a large list's reading time; and a large file
// costs no more memory than the pages that are read. A file cut short
// under the mapping ends this process, which the program reports as a
// damaged file.
int mapFile(const std::string& path, MappedFile& file, std::string* why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(why, kReadUsage, "cannot open " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(why, kReadUsage, path + " is not a regular file");
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxFileBytes) {
        ::close(fd);
        return fail(why, kReadDamaged, path + " is larger than any Jet file can be");
    }
    file.size = static_cast<size_t>(st.st_size);
    if (file.size > 0) {
        void* map = ::mmap(nullptr, file.size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map == MAP_FAILED) {
            ::close(fd);
            return fail(why, kReadUsage, "cannot read " + path + ": " + std::strerror(errno));
        }
        file.bytes = std::unique_ptr<uint8_t, Unmapper>(static_cast<uint8_t*>(map), Unmapper{file.size});
    }
    ::close(fd);
    return kReadOk;
}

// kReadOk for a file the library can read, otherwise the status that says what it is.
int checkKind(const JetHeader& header, const std::string& path, std::string* why) {
    switch (header.kind) {
    case JetKind::Jet3:
    case JetKind::Jet4:
        break;
    case JetKind::NotJet:
        return fail(why, kReadNotJet, path + " is not a Jet database");
    case JetKind::Newer:
        return fail(why, kReadNewer, path + " is in the newer engine's format");
    case JetKind::Password:
        return fail(why, kReadPassword, path + " is protected by a password");
    case JetKind::Damaged:
        return fail(why, kReadDamaged, path + " is cut short or damaged");
    }
    return kReadOk;
}

// Where the library writes the values of the bound columns, one buffer a
// column. Left unfilled: the library writes each value with its terminator,
// and only the pages it writes are ever touched. Kept for the next table and
// the next file: a batch run would otherwise map and unmap them anew for
// every table, which cost more than reading a small list.
std::vector<std::unique_ptr<char[]>>& columnBuffers() {
    static std::vector<std::unique_ptr<char[]>> buffers;
    return buffers;
}

// Writes one table to out: its name, its columns, then its rows (at most
// maxRows). lengths is room for the values' lengths, kept between tables.
int dumpTable(MdbCatalogEntry* entry, uint64_t maxRows, Writer& out, std::vector<int>& lengths,
              const std::string& path, std::string* why) {
    std::unique_ptr<MdbTableDef, TableFreer> table(mdb_read_table(entry));
    if (!table)
        return fail(why, kReadDamaged, path + ": table " + entry->object_name + " cannot be read");
    if (!mdb_read_columns(table.get()) || !table->columns || table->columns->len != table->num_cols)
        return fail(why, kReadDamaged, path + ": the columns of " + entry->object_name + " cannot be read");
    const unsigned nCols = table->num_cols;
    if (nCols > 0xFFFF)
        return fail(why, kReadDamaged, path + ": table " + entry->object_name + " has too many columns");

    std::vector<std::unique_ptr<char[]>>& buffers = columnBuffers();
    out.byte(kTagTable);
    out.text(table->name);
    out.u16(static_cast<uint16_t>(nCols));
    if (buffers.size() < nCols)
        buffers.resize(nCols);
    lengths.assign(nCols, 0);
    std::vector<bool> bound(nCols, false);
    for (unsigned c = 0; c < nCols; ++c) {
        auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, c));
        out.byte(static_cast<char>(col->col_type));
        out.text(col->name);
        if (readable(col->col_type)) {
            if (!buffers[c])
                buffers[c].reset(new char[kBindBytes]);
            // Column numbers of the binding count from 1.
            mdb_bind_column(table.get(), static_cast<int>(c + 1), buffers[c].get(), &lengths[c]);
            bound[c] = true;
        }
    }
    mdb_rewind_table(table.get());
    uint64_t rows = 0;
    while (mdb_fetch_row(table.get())) {
        if (++rows > maxRows)
            return fail(why, kReadDamaged, path + ": table " + entry->object_name + " does not end");
        out.byte(kTagRow);
        for (unsigned c = 0; c < nCols; ++c) {
            // libmdb gives an empty text and Null alike as length 0.
            const int n = lengths[c];
            if (!bound[c] || n <= 0 || static_cast<size_t>(n) >= kBindBytes)
                out.null();
            else
                out.text(std::string_view(buffers[c].get(), static_cast<size_t>(n)));
            lengths[c] = 0;
        }
    }
    return kReadOk;
}

} // namespace

int DumpJetFile(const std::string& path, const StreamSink& sink, std::string* why) {
    MappedFile file;
    if (const int status = mapFile(path, file, why); status != kReadOk)
        return status;
    const uint64_t fileSize = file.size;
    const JetHeader header = ProbeJetHeader(file.bytes ? file.bytes.get() : kNoBytes, file.size, fileSize);
    if (const int status = checkKind(header, path, why); status != kReadOk)
        return status;

    // Jet 3 texts are Windows-1251 whatever code page the file declares; the
    // library reads this when it opens the file.
    ::setenv("MDB_JET3_CHARSET", "CP1251", 1);
    // The library reads the buffer in place; it lives until the handle closes.
    std::unique_ptr<MdbHandle, MdbCloser> mdb(mdb_open_buffer(file.bytes.get(), file.size, MDB_NOFLAGS));
    if (!mdb)
        return fail(why, kReadDamaged, path + ": the library cannot open it");
    mdb_set_bind_size(mdb.get(), kBindBytes);
    // Dates as text that sorts and reads the same everywhere.
    mdb_set_date_fmt(mdb.get(), "%Y-%m-%d %H:%M:%S");
    if (!mdb_read_catalog(mdb.get(), MDB_TABLE) || !mdb->catalog)
        return fail(why, kReadDamaged, path + ": the catalogue cannot be read");

    const uint64_t maxRows = (fileSize / uint64_t(header.pageSize)) * kMaxRowsPerPage;
    Writer out(sink);
    out.raw(kStreamMagic);
    std::vector<int> lengths;
    for (guint i = 0; i < mdb->catalog->len; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (!entry || entry->object_type != MDB_TABLE || isSystemTable(entry))
            continue;
        if (const int status = dumpTable(entry, maxRows, out, lengths, path, why); status != kReadOk)
            return status;
    }
    out.byte(kTagEnd);
    out.flush();
    return kReadOk;
}

} // namespace parvault::jet
