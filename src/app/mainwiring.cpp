#include "mainwiring.h"

#include "artwork.h"
#include "listnamedlg.h"
#include "percentbar.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QTreeWidget>

namespace parvault {

QList<QCursor> WaitCursorFrames() {
    QList<QCursor> frames;
    for (int f = 0; f < WaitCursor::kFrameCount; ++f) {
        QImage img(32, 32, QImage::Format_ARGB32);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(16, 16);
        p.rotate(f * 360.0 / WaitCursor::kFrameCount / 2); // turns half a circle over the frames
        p.setPen(QPen(Qt::black, 1.5));
        p.setBrush(Qt::white);
        const QPolygonF glass({{-7, -11}, {7, -11}, {0, 0}, {7, 11}, {-7, 11}, {0, 0}});
        p.drawPolygon(glass);
        // Sand: the top empties while the bottom fills.
        const double level = static_cast<double>(f) / (WaitCursor::kFrameCount - 1);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(210, 160, 40));
        const double top = -10 + 9 * level;
        p.drawPolygon(QPolygonF({{-6 * (1 - (top + 10) / 10), top}, {6 * (1 - (top + 10) / 10), top},
                                 {0, -1}}));
        const double bottom = 10 - 9 * level;
        p.drawPolygon(QPolygonF({{-6, 10}, {6, 10}, {6 * (10 - bottom) / 10, bottom},
                                 {-6 * (10 - bottom) / 10, bottom}}));
        p.end();
        frames.append(QCursor(QPixmap::fromImage(img), 16, 16));
    }
    return frames;
}

MainWiring::MainWiring(CMainDlg& window, PortNaming ports)
    : window_(window), dbRows_(window.rows(), [this] { EndExchangeForNewRows(); }),
      db_(*this, dbRows_),
      stack_(StackSetup{window.settings, window.rows(), *this, std::move(ports), window.localIp,
                        [this] { db_.ReopenCurrentDatabase(); },
                        [&window] { return window.localIp = localIpFromHostName(); }, &window.exchange,
                        &window, UdpPauses{}, AnswerWaits{}, Pacing{}, nullptr, &log_}) {
    db_.waitCursor.setDisplay(this);
}

MainWiring::~MainWiring() {
    if (overrideCursor_)
        QApplication::restoreOverrideCursor();
}

// ---------------------------------------------------------------- window events

void MainWiring::OnTimer() { stack_.controller().OnTimer(); }

void MainWiring::OnExchangeMessage(int message) { stack_.controller().OnMessage(message); }

void MainWiring::OnCommand(int controlId) {
    switch (controlId) {
    case IDC_SAVE_LIST:
        db_.SaveList();
        break;
    case IDC_READ:
        stack_.controller().OnReadCommand();
        break;
    case IDC_WRITE:
        stack_.controller().OnWriteCommand();
        break;
    case IDC_STOP:
        stack_.controller().StopExchange();
        break;
    case IDC_SAVE_VALUES:
        db_.SaveValues();
        break;
    default:
        break;
    }
}

std::optional<int32_t> MainWiring::selectedTreeData() const {
    const QTreeWidgetItem* item = window_.tree()->currentItem();
    if (!item || !item->isSelected())
        return std::nullopt;
    return item->data(0, Qt::UserRole).toInt();
}

void MainWiring::OnTreeDoubleClick() {
    // Nothing selected: the root's data (0) loads nothing in particular.
    db_.LoadTreeItem(selectedTreeData().value_or(0));
}

void MainWiring::EndExchangeForNewRows() {
    if (stack_.controller().busy())
        stack_.controller().StopExchange();
}

void MainWiring::OnDeleteKey() {
    QTreeWidget* tree = window_.tree();
    if (db_.DeleteSelectedList(selectedTreeData(), tree->hasFocus())) {
        QTreeWidgetItem* gone = tree->currentItem();
        // The type group takes the selection, not the next list: another
        // press must not delete a list the user never chose.
        if (QTreeWidgetItem* group = gone ? gone->parent() : nullptr)
            tree->setCurrentItem(group);
        else
            tree->setCurrentItem(tree->topLevelItem(0));
        delete gone;
    }
}

void MainWiring::BuildTree() { db_.BuildTree(); }

bool MainWiring::OpenMainDatabase() { return db_.OpenMainDatabase(); }

void MainWiring::ClosePort() { ComClose(stack_.serial()); }

void MainWiring::StopUdpThread() { stack_.udp().endUdpExchange(); }

// ---------------------------------------------------------------- database UI

std::optional<QString> MainWiring::askListName() {
    if (window_.options().askListName)
        return window_.options().askListName();
    CListNameDlg dialog(&window_);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.text();
}

std::optional<QString> MainWiring::askSaveFile(const QString& defaultName, const QString& filter,
                                               const QString& defaultExtension) {
    if (window_.options().askSaveFile)
        return window_.options().askSaveFile(defaultName, filter, defaultExtension);
    QFileDialog dialog(&window_, QString(), QDir::currentPath(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultExtension);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.selectFile(defaultName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

void MainWiring::message(const QString& text, const QString& caption) {
    window_.options().showError(text, caption);
}

void MainWiring::setTree(const TreeNode& root) {
    QTreeWidget* tree = window_.tree();
    const QList<QIcon> icons = TreeIcons();
    auto iconFor = [&](const TreeNode& n) {
        // The selected picture shows while the item is selected.
        QIcon icon;
        auto pixmap = [&](int index) {
            return index >= 0 && index < icons.size() ? icons[index].pixmap(16, 16) : QPixmap();
        };
        icon.addPixmap(pixmap(n.image), QIcon::Normal);
        icon.addPixmap(pixmap(n.selectedImage), QIcon::Selected);
        return icon;
    };
    std::function<QTreeWidgetItem*(const TreeNode&)> make = [&](const TreeNode& n) {
        auto* item = new QTreeWidgetItem({n.text});
        item->setIcon(0, iconFor(n));
        item->setData(0, Qt::UserRole, n.data);
        for (const TreeNode& child : n.children)
            item->addChild(make(child));
        return item;
    };
    tree->clear();
    QTreeWidgetItem* top = make(root);
    tree->addTopLevelItem(top);
    std::function<void(QTreeWidgetItem*, const TreeNode&)> expand = [&](QTreeWidgetItem* item,
                                                                       const TreeNode& n) {
        item->setExpanded(n.expanded);
        for (int i = 0; i < item->childCount(); ++i)
            expand(item->child(i), n.children[static_cast<size_t>(i)]);
    };
    expand(top, root);
}

void MainWiring::showWaitFrame(int frame) {
    if (waitFrames_.isEmpty())
        waitFrames_ = WaitCursorFrames();
    const QCursor& cursor = waitFrames_[std::clamp(frame, 0, int(waitFrames_.size()) - 1)];
    if (overrideCursor_) {
        QApplication::changeOverrideCursor(cursor);
    } else {
        QApplication::setOverrideCursor(cursor);
        overrideCursor_ = true;
    }
}

void MainWiring::showArrowCursor() {
    if (overrideCursor_) {
        QApplication::restoreOverrideCursor();
        overrideCursor_ = false;
    }
}

// ---------------------------------------------------------------- exchange display

void MainWiring::setStatusText(const QString& text) { window_.statusText()->setText(text); }

void MainWiring::setOpticMark(const QString& text) { window_.opticMark()->setText(text); }

void MainWiring::setPortStatusText(const QString& text) { window_.portStatusText()->setText(text); }

void MainWiring::setProgressText(const QString& text) { window_.progress()->SetText(text); }

void MainWiring::setProgressPos(int position) { window_.progress()->SetPos(position); }

void MainWiring::setStatusToolTip(const QString& text) { window_.statusText()->setToolTip(text); }

void MainWiring::setPortStatusToolTip(const QString& text) {
    window_.portStatusText()->setToolTip(text);
}

} // namespace parvault
