// What a run shows on the screen, and the only way it talks to it: the
// Progress Window implements this; tests fake it.
#pragma once

#include <string>

#include "store/database.h"

namespace ms {

struct RunState;

// Controls of the Progress Window that the run shows, hides or captions.
enum class Control {
  cmdCancel,
  lblPerc1,  // step name
  lblPerc2,  // percentage figure
  lblPerc3,  // step caption
  Line1,
  Line2,
  Line3,
  Line4,
};

enum class Answer { Yes, No };

class Progress {
 public:
  virtual ~Progress() = default;

  // Progress cells Perc1 (cell 1) to Perc20 (cell 20).
  virtual void setCellVisible(int cell, bool visible) = 0;
  virtual void setVisible(Control control, bool visible) = 0;
  // Sets a label's caption and repaints it at once (a repaint of an
  // unchanged caption may be skipped).
  virtual void setCaption(Control label, const std::string& text) = 0;
  // Hourglass while a run works, the default pointer after it.
  virtual void setBusyPointer(bool busy) = 0;
  // Lets the window system process waiting events: repaints and, nested in
  // here, a press of Cancel (which calls cancelPressed below).
  virtual void yield() = 0;
  // "Are you sure you want to cancel ?" with Yes and No.
  virtual Answer confirmCancel() = 0;
  // A message box with OK, for a job the run cannot do.
  virtual void message(const std::string& text) = 0;
  // The run has waited a second for another program that holds the
  // database, or for a PostgreSQL server that does not answer (each said
  // once a run).
  virtual void waitingForDatabase(store::WaitReason /*why*/) {}
};

// The percentage figure as lblPerc2 shows it ("0.00"). Formatting it after
// every record would cost more than the record; a figure well inside the
// rounding interval of the text shown last gives that text again.
class FigureText {
 public:
  const std::string& of(double percent);

 private:
  double shown_ = -1;  // the value of text_
  std::string text_;
};

// The Cancel button's handler: asks for confirmation and, on Yes, sets
// `cancelflag` to "Y". It only sets the flag; the passes test it.
void cancelPressed(RunState& run);

// Lights the cells for `percent`: from 5 on, cells 1 to k with
// k = whole part of percent / 5 (at most 20); never puts a cell out.
void percbar(RunState& run);
// Puts all twenty cells out, Perc1 first.
void clearperc(RunState& run);

// The progress update of the two long passes after each record: `percent` =
// done / totrecs x 100, percbar on that raw figure, then `percent` held to
// at most 100, shown in lblPerc2 as "0.00", and a yield to the window
// system. Each step that fails is skipped.
void showProgress(RunState& run, double done);

}  // namespace ms
