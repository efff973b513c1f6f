#include "fileops.h"

namespace parvault::fileops {

bool IsUncPath(const QString& path) {
    const auto slash = [&](qsizetype i) {
        return i < path.size() && (path[i] == QLatin1Char('\\') || path[i] == QLatin1Char('/'));
    };
    if (!slash(0) || !slash(1))
        return false;
    // \\?\ and \\.\ lead to devices and long drive paths; \\?\UNC\ is a share.
    if (path.size() > 2 && (path[2] == QLatin1Char('?') || path[2] == QLatin1Char('.')) && slash(3))
        return path.mid(4, 3).compare(QLatin1String("UNC"), Qt::CaseInsensitive) == 0 && slash(7);
    // A server name follows, then a share name.
    const qsizetype serverEnd = [&] {
        qsizetype i = 2;
        while (i < path.size() && !slash(i))
            ++i;
        return i;
    }();
    return serverEnd > 2 && slash(serverEnd) && serverEnd + 1 < path.size();
}

} // namespace parvault::fileops
