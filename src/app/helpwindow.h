#pragma once

class QWidget;

namespace parvault {

// Shows the program's own help page at its main topic.
void ShowHelpWindow(QWidget* parent);

} // namespace parvault
