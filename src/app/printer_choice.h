#pragma once

#include <QComboBox>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/qt_page_sink.h"

namespace ms {

// The print queues a machine offers, and the one it prints on by default.
struct PrinterQueues {
  std::vector<std::string> names;
  std::string defaultName;
};
using QueueLister = std::function<PrinterQueues()>;

// The CUPS queues, as QtPageSink finds them (a QGuiApplication must exist).
PrinterQueues cupsQueues();

// The Start Dialog's printer line: the default queue first, the others by
// name, then "no printer". The operator's choice is remembered for the next
// start (a remembered queue that has gone falls back to the default); a
// printer named on the command line wins and cannot be changed here.
class PrinterChoice : public QComboBox {
 public:
  explicit PrinterChoice(QWidget* parent);

  // Where the queues come from (CUPS unless a test says otherwise).
  void setQueueLister(QueueLister lister) { lister_ = std::move(lister); }
  // Lists the queues again and selects the one to print on.
  void fill();
  // The command line's choice, which the list shows and keeps.
  void fix(const PrintOn& printOn);
  PrintOn printOn() const;

 private:
  void remember(int index);

  QueueLister lister_ = cupsQueues;
  std::optional<PrintOn> fixed_;
};

}  // namespace ms
