// The two windows under the offscreen platform: layout, the progress bar,
// the gate, Chain Mode and the message boxes that answer by themselves.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "app/file_holder.h"
#include "app/progress_window.h"
#include "app/run_fixture.h"
#include "app/start_dialog.h"
#include "app/window_geometry.h"

namespace ms {
namespace {

using testing::JobFolder;
using testing::LabelProgramStandIn;

QApplication& app() {
  static int argc = 1;
  static char name[] = "test_app";
  static char* argv[] = {name, nullptr};
  static QApplication* instance = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    auto* a = new QApplication(argc, argv);
    a->setQuitOnLastWindowClosed(false);
    return a;
  }();
  return *instance;
}

// Lets the event loop run until `done` or the time is up.
template <class Done>
bool processUntil(Done done, int milliseconds = 20000) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < milliseconds)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  return done();
}

class WindowsTest : public ::testing::Test {
 protected:
  void SetUp() override { app(); }
  template <class T>
  T* child(QWidget& window, const char* name) {
    T* w = window.findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
};

TEST_F(WindowsTest, ProgressWindowHasItsControlsHiddenAtTheirPlaces) {
  ProgressWindow form2;
  EXPECT_EQ(form2.objectName(), "Form2");
  EXPECT_EQ(form2.windowTitle(), "Print PO Reports in Progress");
  const double dpi = form2.logicalDpiX();

  for (int i = 1; i <= 20; ++i) {
    auto* cell = child<QFrame>(form2, QString("Perc%1").arg(i).toLatin1().constData());
    ASSERT_NE(cell, nullptr);
    EXPECT_TRUE(cell->isHidden());
    EXPECT_EQ(cell->geometry(), twipsRect(360 + 195 * (i - 1), 135, 210, 420, dpi)) << i;
  }
  EXPECT_EQ(child<QFrame>(form2, "Perc20")->x(), twipsToPixels(4065, dpi));

  auto* line1 = child<QFrame>(form2, "Line1");
  EXPECT_EQ(line1->x(), twipsToPixels(330, dpi));
  EXPECT_EQ(line1->y(), twipsToPixels(120, dpi));
  EXPECT_EQ(line1->x() + line1->width(), twipsToPixels(4282, dpi));
  auto* line2 = child<QFrame>(form2, "Line2");
  EXPECT_EQ(line2->x(), twipsToPixels(4275, dpi));
  EXPECT_EQ(line2->y() + line2->height(), twipsToPixels(550, dpi));
  EXPECT_EQ(child<QFrame>(form2, "Line3")->y(), twipsToPixels(555, dpi));
  EXPECT_EQ(child<QFrame>(form2, "Line4")->x(), twipsToPixels(345, dpi));
  EXPECT_EQ(child<QFrame>(form2, "Line4")->y(), twipsToPixels(105, dpi));
  for (const char* line : {"Line1", "Line2", "Line3", "Line4"})
    EXPECT_TRUE(child<QFrame>(form2, line)->isHidden());

  EXPECT_EQ(child<QLabel>(form2, "lblPerc1")->text(), "Allocation");
  EXPECT_EQ(child<QLabel>(form2, "lblPerc3")->text(), "percent complete (step 1 of 2)");
  EXPECT_TRUE(child<QLabel>(form2, "lblPerc2")->isHidden());
  auto* cancel = child<QPushButton>(form2, "cmdCancel");
  EXPECT_EQ(cancel->text(), "Cancel");
  EXPECT_TRUE(cancel->isHidden());
}

TEST_F(WindowsTest, PercbarLightsTheCellsOfTheProgressWindow) {
  ProgressWindow form2;
  RunState run;
  run.progress = &form2;
  auto lit = [&] {
    std::string cells;
    for (int i = 1; i <= 20; ++i)
      cells += form2.findChild<QFrame*>(QString("Perc%1").arg(i))->isHidden() ? '.' : '#';
    return cells;
  };
  auto bar = [&](double p) {
    run.percent = p;
    percbar(run);
    return lit();
  };
  EXPECT_EQ(bar(4.99), "....................");
  EXPECT_EQ(bar(5), "#...................");
  EXPECT_EQ(bar(9.5), "#...................");
  EXPECT_EQ(bar(12), "##..................");
  EXPECT_EQ(bar(80), "################....");
  EXPECT_EQ(bar(50), "################....");  // a falling figure puts nothing out
  EXPECT_EQ(bar(99.99), "###################.");
  EXPECT_EQ(bar(100), "####################");
  clearperc(run);
  EXPECT_EQ(lit(), "....................");
  EXPECT_EQ(bar(200), "####################");
  clearperc(run);
  EXPECT_EQ(bar(12), "##..................");
}

TEST_F(WindowsTest, WithoutAScreenTheBoxesAnswerTheirDefaultAtOnce) {
  ProgressWindow form2;
  RunState run;
  run.progress = &form2;
  EXPECT_EQ(form2.confirmCancel(), Answer::No);
  cancelPressed(run);
  EXPECT_EQ(run.cancelflag, "N");
  form2.message("nothing to wait for");  // returns without a click
}

TEST_F(WindowsTest, StartDialogWaitsForOkWhenNotInChainMode) {
  JobFolder folder;
  folder.db().insertParameters({{"RunAlone", "N"}, {"RunCodes", "Y"}});
  ProgressWindow form2;
  StartDialog form1(&form2);
  EXPECT_EQ(form1.objectName(), "Form1");
  EXPECT_EQ(form1.windowTitle(), "Print Line List and Sort");
  EXPECT_EQ(child<QLabel>(form1, "Label1")->text(), "Print PO Reports");
  EXPECT_EQ(child<QLabel>(form1, "Label1")->font().family(), "Arial");
  EXPECT_EQ(child<QLabel>(form1, "Label2")->text(),
            "This option will take the mailsort details and allocate them to direct or residue selections as "
            "appropriate and then print the line list report.");
  EXPECT_EQ(child<QLabel>(form1, "Label3")->text(),
            "You must have already run the option to apply the mailsort codes before running this option.");
  EXPECT_EQ(child<QPushButton>(form1, "cmdOK")->text(), "OK");
  EXPECT_EQ(child<QPushButton>(form1, "cmdCancel")->text(), "Exit");
  EXPECT_NE(form1.findChild<QWidget*>("Picture1"), nullptr);

  EXPECT_EQ(form1.load(), GateResult::Wait);
  EXPECT_TRUE(form1.isVisible());
  EXPECT_FALSE(form2.isVisible());
  EXPECT_EQ(folder.flag("RunCodes"), "Y");

  // OK runs the job in the Progress Window; the dialog stays for another run.
  int ended = 0;
  QObject::connect(&form2, &ProgressWindow::runEnded, [&](bool chain) {
    EXPECT_FALSE(chain);
    ++ended;
  });
  child<QPushButton>(form1, "cmdOK")->click();
  child<QPushButton>(form1, "cmdOK")->click();  // only brings the window forward
  EXPECT_TRUE(form2.isVisible());
  ASSERT_TRUE(processUntil([&] { return ended > 0; }));
  processUntil([] { return false; }, 200);
  EXPECT_EQ(ended, 1);
  EXPECT_FALSE(form2.isVisible());
  EXPECT_TRUE(form1.isVisible());
  EXPECT_TRUE(folder.tableExists("bags"));

  // A second run after the first one.
  child<QPushButton>(form1, "cmdOK")->click();
  ASSERT_TRUE(processUntil([&] { return ended > 1; }));
  EXPECT_EQ(folder.flag("RunAlone"), "N");
}

TEST_F(WindowsTest, StartDialogRefusesWhileAnotherProgramHoldsTheDatabase) {
  JobFolder folder;
  folder.db().insertParameters({{"RunAlone", "Y"}, {"RunCodes", "Y"}});
  testing::FileHolder other("mailsort.mdb");
  ASSERT_TRUE(other.holding());
  ProgressWindow form2;
  StartDialog form1(&form2);
  EXPECT_EQ(form1.load(), GateResult::Refused);
  EXPECT_FALSE(form1.isVisible());
  EXPECT_FALSE(form2.isVisible());
  EXPECT_EQ(folder.flag("RunCodes"), "Y");
}

TEST_F(WindowsTest, ChainModeRunsAtOnceAndHandsOverToTheLabelProgram) {
  for (const char* labels : {"Y", "N"}) {
    SCOPED_TRACE(labels);
    JobFolder folder;
    LabelProgramStandIn kvprint;
    folder.db().insertParameters(
        {{"RunAlone", "Y"}, {"RunCodes", "Y"}, {"RunReports", "Y"}, {"RunLabels", labels}});
    folder.addWork({"12345", "12345", "12345"});
    ProgressWindow form2;
    StartDialog form1(&form2);
    int chainEnds = 0;
    QObject::connect(&form2, &ProgressWindow::runEnded, [&](bool chain) { chainEnds += chain ? 1 : 0; });

    EXPECT_EQ(form1.load(), GateResult::ChainMode);
    EXPECT_FALSE(form1.isVisible());
    EXPECT_TRUE(form2.isVisible());
    EXPECT_EQ(folder.flag("RunCodes"), "N");
    ASSERT_TRUE(processUntil([&] { return chainEnds > 0; }));

    EXPECT_FALSE(form2.isVisible());
    EXPECT_EQ(folder.flag("RunAlone"), "N");
    EXPECT_EQ(folder.flag("RunReports"), "N");
    ASSERT_NE(form2.runState(), nullptr);
    EXPECT_FALSE(form2.runState()->mdb->isOpen());
    EXPECT_EQ(LabelProgramStandIn::startedIn(folder.path(), std::string(labels) == "Y" ? 5 : 0.5),
              std::string(labels) == "Y");
  }
}

TEST_F(WindowsTest, AnErrorBeforeTheAllocationIsReportedByName) {
  JobFolder folder;
  folder.db().insertParameters({{"RunAlone", "Y"}});
  folder.db().exec("DROP TABLE kvwork");
  ProgressWindow form2;
  StartDialog form1(&form2);
  QString error;
  QObject::connect(&form2, &ProgressWindow::runFailed, [&](const QString& text) { error = text; });
  EXPECT_EQ(form1.load(), GateResult::ChainMode);
  ASSERT_TRUE(processUntil([&] { return !error.isEmpty(); }));
  EXPECT_TRUE(error.contains("kvwork")) << error.toStdString();
  // The flags are not touched: the run never got that far.
  EXPECT_EQ(folder.flag("RunAlone"), "Y");
}

}  // namespace
}  // namespace ms
