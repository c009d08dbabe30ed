#include "job/batch_progress.h"

#include <signal.h>

#include <cmath>
#include <cstring>

#include "run/run_state.h"
#include "values/text_rules.h"

namespace ms {

namespace {

volatile sig_atomic_t caught = 0;
// The cancel is told once for the process, whichever progress sees it
// first and however many signals follow.
bool told = false;

extern "C" void onCancelSignal(int number) {
  if (caught == 0) caught = number;
}

constexpr std::chrono::milliseconds kTerminalInterval(100);

}  // namespace

void watchCancelSignals() {
  struct sigaction action {};
  action.sa_handler = onCancelSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // the database and the files go on undisturbed
  for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaction(number, &action, nullptr);
}

int cancelSignal() { return caught; }

// The figure stands right-aligned in the room of "100.00", as in its label.
std::string StreamProgress::line() const {
  const std::string figure = figure_.size() < 6 ? std::string(6 - figure_.size(), ' ') + figure_ : figure_;
  return name_ + " " + figure + " " + caption_;
}

void StreamProgress::write(const std::string& text, bool inPlace) {
  if (terminal_)
    std::fprintf(out_, "\r%s\033[K%s", text.c_str(), inPlace ? "" : "\n");
  else
    std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
  lineOpen_ = terminal_ && inPlace;
}

// A terminal line in place is ended before anything else is written.
void StreamProgress::closeLine() {
  if (!lineOpen_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  lineOpen_ = false;
}

void StreamProgress::endStep() {
  if (!figure_.empty() && line() != written_) write(line(), false);
  closeLine();
  written_.clear();
  figure_.clear();
  tenths_ = 0;
}

void StreamProgress::setCaption(Control label, const std::string& text) {
  switch (label) {
    case Control::lblPerc1:
      if (text == name_) return;
      endStep();
      name_ = text;
      return;
    case Control::lblPerc3:
      caption_ = text;
      return;
    case Control::lblPerc2:
      break;
    default:
      return;
  }
  if (text == figure_) return;
  figure_ = text;
  if (terminal_) {
    const auto now = std::chrono::steady_clock::now();
    if (lineOpen_ && now - lastWrite_ < kTerminalInterval) return;
    lastWrite_ = now;
    write(written_ = line(), true);
    return;
  }
  const int tenths = static_cast<int>(std::floor(Val(text) / 10));
  if (tenths <= tenths_) return;
  tenths_ = tenths;
  write(written_ = line(), false);
}

void StreamProgress::setBusyPointer(bool busy) {
  if (!busy) endStep();
}

void StreamProgress::yield() {
  if (signalSeen_ || !run_ || cancelSignal() == 0) return;
  signalSeen_ = true;
  if (!told) {
    told = true;
    closeLine();
    std::fprintf(out_, "mailsort: %s: the run is cancelled\n", strsignal(cancelSignal()));
    std::fflush(out_);
  }
  cancelPressed(*run_);
}

void StreamProgress::waitingForDatabase(store::WaitReason why) {
  closeLine();
  std::fprintf(out_, "mailsort: waiting for %s\n",
               why == store::WaitReason::Server ? "the PostgreSQL server, which does not answer"
                                                : "another program that holds the database");
  std::fflush(out_);
}

// Only a signal asks, and a signal is a confirmed Cancel.
Answer StreamProgress::confirmCancel() { return signalSeen_ ? Answer::Yes : Answer::No; }

void StreamProgress::message(const std::string& text) {
  closeLine();
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

}  // namespace ms
