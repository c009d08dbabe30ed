// The program's message boxes. Every text also goes to standard error, and
// where there is no screen to show a box on (the offscreen platform) none is
// shown: the box answers its default button at once, so that a run without
// a screen never waits for a click.
#pragma once

#include <QString>

class QWidget;

namespace ms {

// A message with an exclamation icon and OK.
void showExclamation(QWidget* parent, const QString& text);
// A message with OK and no icon.
void showMessage(QWidget* parent, const QString& text);
// The report of an error that ends the program (critical icon, OK).
void showError(QWidget* parent, const QString& text);
// A question with Yes and No, no icon; No is the default. True for Yes.
bool askYesNo(QWidget* parent, const QString& text);

}  // namespace ms
