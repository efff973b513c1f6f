#pragma once

class QDialog;
class QWidget;

namespace parvault {

// Shows the program's own help page at its main topic; while a help window of
// `parent` is open, raises that one instead of opening another.
QDialog* ShowHelpWindow(QWidget* parent);

} // namespace parvault
