#pragma once

// The window's side of the database commands, scripted: dialogs answer from
// queues given in advance (nothing, as if cancelled, once a queue is empty),
// and whatever the session shows is recorded.

#include "dbui.h"
#include "waitcursor.h"

#include <QDir>
#include <QString>

#include <deque>
#include <optional>
#include <unistd.h>
#include <vector>

namespace parvault::testing {

class ScriptedUi : public DbUi {
public:
    std::deque<std::optional<QString>> listNames;
    std::deque<std::optional<QString>> saveFiles;
    struct Message {
        QString text, caption;
    };
    std::vector<Message> messages;
    std::vector<int> frames;
    int arrows = 0;
    int trees = 0;
    TreeNode lastTree;
    QString lastDefaultName, lastFilter, lastExtension;
    QString cwdAtSaveDialog;

    std::optional<QString> askListName() override { return next(listNames); }
    std::optional<QString> askSaveFile(const QString& defaultName, const QString& filter,
                                       const QString& ext) override {
        lastDefaultName = defaultName;
        lastFilter = filter;
        lastExtension = ext;
        cwdAtSaveDialog = QDir::currentPath();
        return next(saveFiles);
    }
    void message(const QString& text, const QString& caption) override {
        messages.push_back({text, caption});
    }
    void setTree(const TreeNode& root) override {
        lastTree = root;
        ++trees;
    }
    void showWaitFrame(int frame) override { frames.push_back(frame); }
    void showArrowCursor() override { ++arrows; }

private:
    static std::optional<QString> next(std::deque<std::optional<QString>>& queue) {
        if (queue.empty())
            return std::nullopt;
        auto v = queue.front();
        queue.pop_front();
        return v;
    }
};

// A program killed in the middle of a long command: once armed with the
// session's wait cursor, the process ends (exit status 0) at the `dieAt`-th
// wait frame. Each frame makes the next cursor step due, so every step of the
// command shows one.
class DyingUi : public ScriptedUi {
public:
    explicit DyingUi(int dieAt) : dieAt_(dieAt) {}
    WaitCursor* cursor = nullptr;
    void showWaitFrame(int) override {
        if (!cursor)
            return; // not armed yet
        if (++shown_ == dieAt_)
            _exit(0);
        for (int i = 0; i < WaitCursor::kTicksPerFrame; ++i)
            cursor->tick();
    }

private:
    int dieAt_;
    int shown_ = 0;
};

} // namespace parvault::testing
