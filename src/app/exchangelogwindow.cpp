#include "exchangelogwindow.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>

namespace parvault {

ExchangeLogWindow::ExchangeLogWindow(ExchangeLog& log, QWidget* parent)
    : QWidget(parent, Qt::Window), log_(log), reader_(log) {
    setWindowTitle(QString::fromUtf8(kExchangeLogTitle));
    setAttribute(Qt::WA_DeleteOnClose, false);

    view_ = new QPlainTextEdit(this);
    view_->setReadOnly(true);
    view_->setLineWrapMode(QPlainTextEdit::NoWrap);
    view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    // The view keeps no more than the log does; its own oldest lines go first.
    view_->setMaximumBlockCount(static_cast<int>(log.capacity()) + 1);
    view_->setUndoRedoEnabled(false);

    auto* clear = new QPushButton(QStringLiteral("Очистить"), this);
    auto* copy = new QPushButton(QStringLiteral("Копировать"), this);
    auto* save = new QPushButton(QStringLiteral("Сохранить..."), this);
    counts_ = new QLabel(this);
    connect(clear, &QPushButton::clicked, this, &ExchangeLogWindow::clearLog);
    connect(copy, &QPushButton::clicked, this, &ExchangeLogWindow::copySelectedLines);
    connect(save, &QPushButton::clicked, this, &ExchangeLogWindow::saveAs);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(clear);
    buttons->addWidget(copy);
    buttons->addWidget(save);
    buttons->addStretch(1);
    buttons->addWidget(counts_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_, 1);
    layout->addLayout(buttons);
    resize(900, 420);

    timer_ = new QTimer(this);
    timer_->setInterval(kExchangeLogPullMs);
    connect(timer_, &QTimer::timeout, this, &ExchangeLogWindow::pull);
    timer_->start();
    pull();
}

bool ExchangeLogWindow::atEnd() const {
    const QScrollBar* bar = view_->verticalScrollBar();
    return bar->value() >= bar->maximum();
}

void ExchangeLogWindow::pull() {
    const QStringList lines = reader_.newLines();
    if (lines.isEmpty())
        return;
    QScrollBar* bar = view_->verticalScrollBar();
    const bool follow = atEnd();
    const int kept = bar->value();
    const int blocksBefore = view_->blockCount();
    // One insertion for the whole batch: appending line by line would lay
    // the document out again for each of them.
    QTextCursor cursor(view_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    const bool empty = view_->document()->isEmpty();
    cursor.insertText((empty ? QString() : QStringLiteral("\n")) + lines.join(QLatin1Char('\n')));
    cursor.endEditBlock();
    if (follow) {
        bar->setValue(bar->maximum());
    } else {
        // Lines dropped at the top move the rest up; stay on the same line.
        const int dropped = blocksBefore + static_cast<int>(lines.size()) - view_->blockCount();
        bar->setValue(std::max(0, kept - std::max(0, dropped)));
    }
    showCounts();
}

void ExchangeLogWindow::showCounts() {
    const uint64_t dropped = log_.dropped();
    counts_->setText(dropped == 0 ? QStringLiteral("строк: %1").arg(view_->document()->isEmpty() ? 0 : view_->blockCount())
                                  : QStringLiteral("строк: %1, удалено старых записей: %2")
                                        .arg(view_->blockCount())
                                        .arg(dropped));
}

void ExchangeLogWindow::clearLog() {
    pull();
    log_.clear();
    view_->clear();
    showCounts();
}

QStringList ExchangeLogWindow::lines() const {
    if (view_->document()->isEmpty())
        return {};
    return view_->toPlainText().split(QLatin1Char('\n'));
}

void ExchangeLogWindow::copySelectedLines() {
    const QTextCursor selection = view_->textCursor();
    QTextDocument* doc = view_->document();
    const QTextBlock first = doc->findBlock(selection.selectionStart());
    QTextBlock last = doc->findBlock(selection.selectionEnd());
    // A selection that ends at the very start of a line does not take that line.
    if (selection.hasSelection() && last != first && selection.selectionEnd() == last.position())
        last = last.previous();
    QStringList out;
    for (QTextBlock b = first; b.isValid(); b = b.next()) {
        out << b.text();
        if (b == last)
            break;
    }
    QApplication::clipboard()->setText(out.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

bool ExchangeLogWindow::saveTo(const QString& path) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const QString& line : lines()) {
        file.write(line.toUtf8());
        file.write("\n");
    }
    return file.commit();
}

void ExchangeLogWindow::saveAs() {
    const QString path = QFileDialog::getSaveFileName(this, QString::fromUtf8(kExchangeLogTitle),
                                                      QStringLiteral("exchange-log.txt"),
                                                      QStringLiteral("Текст (*.txt);;Все файлы (*)"));
    if (!path.isEmpty())
        saveTo(path);
}

} // namespace parvault
