#include "folderkind.h"

#include "fileops.h"

#include <QFileInfo>

namespace parvault {

namespace {

// The magic numbers of linux/magic.h (and fs/cifs, fs/smb), written out so
// the list does not depend on the kernel headers at hand.
constexpr int64_t kNetworkMagics[] = {
    0x6969,     // NFS_SUPER_MAGIC
    0x517B,     // SMB_SUPER_MAGIC
    0xFF534D42, // CIFS_MAGIC_NUMBER
    0xFE534D42, // SMB2_MAGIC_NUMBER
    0x65735546, // FUSE_SUPER_MAGIC
    0x564C,     // NCP_SUPER_MAGIC
    0x5346414F, // AFS_SUPER_MAGIC
    0x6B414653, // AFS_FS_MAGIC (kAFS)
    0x73757245, // CODA_SUPER_MAGIC
    0x01021997, // V9FS_MAGIC
    0x00C36400, // CEPH_SUPER_MAGIC
    0x47504653, // GPFS
    0x0BD00BD0, // LUSTRE
};

} // namespace

FolderKind FolderKindOfMagic(int64_t statfsType) {
    // f_type is a signed word on some ABIs: compare the low 32 bits.
    const int64_t magic = statfsType & 0xFFFFFFFFLL;
    for (int64_t m : kNetworkMagics)
        if (magic == m)
            return FolderKind::Network;
    return FolderKind::Local;
}

FolderKind FolderKindOf(const QString& path) {
    const QFileInfo info(path);
    const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    return fileops::IsNetworkFolder(folder).value_or(false) ? FolderKind::Network : FolderKind::Local;
}

} // namespace parvault
