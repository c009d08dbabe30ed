#include "app/printer_choice.h"

#include <QPrinterInfo>
#include <QSettings>
#include <algorithm>

namespace ms {

namespace {

// The settings that keep the printer chosen, and their key (absent: the
// default queue; empty: no printer).
constexpr const char* kPrinterKey = "printer";
QSettings settings() { return QSettings("mailsort", "mailsort"); }

}  // namespace

PrinterQueues cupsQueues() {
  PrinterQueues queues;
  for (const QString& name : QPrinterInfo::availablePrinterNames())
    queues.names.push_back(name.toStdString());
  queues.defaultName = QPrinterInfo::defaultPrinterName().toStdString();
  return queues;
}

PrinterChoice::PrinterChoice(QWidget* parent) : QComboBox(parent) {
  setObjectName("cboPrinter");
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  setMinimumContentsLength(16);
  connect(this, &QComboBox::activated, this, &PrinterChoice::remember);
}

void PrinterChoice::fill() {
  const PrinterQueues queues = lister_ ? lister_() : PrinterQueues{};
  std::vector<std::string> names = queues.names;
  std::sort(names.begin(), names.end());
  clear();
  if (!queues.defaultName.empty()) {
    addItem(QString::fromStdString(queues.defaultName) + " (the default)",
            QString::fromStdString(queues.defaultName));
    std::erase(names, queues.defaultName);
  }
  for (const std::string& name : names) addItem(QString::fromStdString(name), QString::fromStdString(name));
  addItem("no printer", QVariant());

  setEnabled(!fixed_);
  setToolTip(fixed_ ? "Chosen on the command line"
                    : "Where the run prints; its pages are kept in MAILSORT.PDF too");
  std::optional<PrintOn> want = fixed_;
  if (const QSettings remembered = settings(); !want && remembered.contains(kPrinterKey)) {
    const QString queue = remembered.value(kPrinterKey).toString();
    want = queue.isEmpty() ? PrintOn::nowhere() : PrintOn::queueNamed(queue.toStdString());
  }
  int chosen = 0;  // the default queue, or no printer when there is none
  if (want) {
    if (want->kind == PrintOn::Nowhere) {
      chosen = count() - 1;
    } else if (want->kind == PrintOn::Queue) {
      const int at = findData(QString::fromStdString(want->queue));
      if (at >= 0)
        chosen = at;
      else if (fixed_)  // a queue that only the command line names (an instance)
        insertItem(chosen = 0, QString::fromStdString(want->queue), QString::fromStdString(want->queue));
      // a remembered queue that is gone: the default one again
    }
  }
  setCurrentIndex(chosen);
}

void PrinterChoice::fix(const PrintOn& printOn) {
  fixed_ = printOn;
  fill();
}

PrintOn PrinterChoice::printOn() const {
  if (fixed_) return *fixed_;
  if (count() == 0) return {};  // not filled yet: the default queue
  const QVariant queue = currentData();
  if (!queue.isValid()) return PrintOn::nowhere();
  return PrintOn::queueNamed(queue.toString().toStdString());
}

void PrinterChoice::remember(int index) {
  if (fixed_) return;
  const QVariant queue = itemData(index);
  settings().setValue(kPrinterKey, queue.isValid() ? queue.toString() : QString());
}

}  // namespace ms
