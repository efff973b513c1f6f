#pragma once

#include <QDialog>

namespace parvault {

class CAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit CAboutBox(QWidget* parent = nullptr);
};

} // namespace parvault
