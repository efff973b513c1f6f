#pragma once

// Whether a working folder lies on a network filesystem. SQLite's WAL mode
// needs shared memory that a network filesystem does not share between
// machines, and byte-range locks there are only as good as the server's; so
// the storage layer keeps the rollback journal everywhere and says so
// explicitly on a network folder.

#include <QString>

#include <cstdint>

namespace parvault {

enum class FolderKind { Local, Network };

// From statfs(2)'s f_type alone, so it can be checked without a mount. FUSE
// counts as network: sshfs and the like are the common FUSE folders, and the
// rollback journal is right for a local FUSE folder too.
FolderKind FolderKindOfMagic(int64_t statfsType);

// The folder holding `path` (a file or a folder); Local when it cannot be told.
FolderKind FolderKindOf(const QString& path);

} // namespace parvault
