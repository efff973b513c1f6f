#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#ifdef _WIN32
#include <atomic>
#include <process.h>
#else
#include <unistd.h>
#endif

namespace parvault::testing {

// A fresh folder under the system temp dir, removed with everything in it.
class TempDir {
public:
    TempDir() {
#ifdef _WIN32
        // No mkdtemp there: a name of this process's own, made exclusively.
        static std::atomic<int> counter{0};
        for (int tries = 0;; ++tries) {
            path_ = std::filesystem::temp_directory_path() /
                    ("pv2test-" + std::to_string(::_getpid()) + "-" + std::to_string(counter++));
            std::error_code ec;
            if (std::filesystem::create_directory(path_, ec))
                break;
            if (tries > 1000)
                std::abort();
        }
#else
        std::string pattern = (std::filesystem::temp_directory_path() / "pv2test-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        path_ = pattern;
#endif
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Changes the current directory for one scope: the program resolves its files
// against the current directory, as its users' working folders expect.
class ScopedCwd {
public:
    explicit ScopedCwd(const std::filesystem::path& dir) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~ScopedCwd() {
        std::error_code ec;
        std::filesystem::current_path(old_, ec);
    }

private:
    std::filesystem::path old_;
};

} // namespace parvault::testing
