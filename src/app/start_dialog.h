// The Start Dialog ("Form1"): says what the option does, applies the run
// gate when it loads, and starts a run in the Progress Window on OK, or at
// once in Chain Mode.
#pragma once

#include <QWidget>
#include <string>

#include "app/start_gate.h"

class QLabel;
class QPushButton;

namespace ms {

class ProgressWindow;

class StartDialog : public QWidget {
  Q_OBJECT

 public:
  StartDialog(ProgressWindow* progressWindow, QWidget* parent = nullptr);

  // The load: placement, gate and Chain Mode test. Refused: the gate's
  // message has been given and the program must end. Chain Mode: the dialog
  // stays off and the Progress Window is up. Wait: the dialog is shown.
  GateResult load(const std::string& databasePath = store::kMailsortDatabase);

 private:
  void okPressed();

  ProgressWindow* progressWindow_;
  QLabel* picture1_ = nullptr;
  QPushButton* cmdOK_ = nullptr;
  QPushButton* cmdCancel_ = nullptr;
};

}  // namespace ms
