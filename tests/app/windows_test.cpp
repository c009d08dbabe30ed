// The gate, and the two windows under the offscreen platform: the progress
// cells, Chain Mode and the message boxes that answer by themselves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/progress_window.h"
#include "app/run_fixture.h"
#include "app/start_dialog.h"
#include "job/job_summary.h"
#include "job/start_gate.h"
#include "reports/common/output_file.h"
#include "reports/common/publication.h"

namespace ms {
namespace {

using testing::JobFolder;

class Windows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "test_app", *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* app = new QApplication(argc, argv);
    app->setQuitOnLastWindowClosed(false);
  }
  template <class Done>
  static bool processUntil(Done done, int milliseconds = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
  }
  ProgressWindow form2;
};

// The bar's cells are the window's frames Perc1 to Perc20, in order.
TEST_F(Windows, TheProgressWindowsCellsFollowTheBar) {
  RunState run;
  run.progress = &form2;
  auto bar = [&](double p) {
    run.percent = p;
    if (p >= 0) percbar(run);
    std::string cells;
    for (int i = 1; i <= 20; ++i)
      cells += form2.findChild<QFrame*>(QString("Perc%1").arg(i))->isHidden() ? '.' : '#';
    return cells;
  };
  EXPECT_EQ(bar(-1), "....................");
  EXPECT_EQ(bar(12), "##..................");
  EXPECT_EQ(bar(100), "####################");
  clearperc(run);
  EXPECT_EQ(bar(-1), "....................");

  // Without a screen the boxes answer their default at once.
  EXPECT_EQ(form2.confirmCancel(), Answer::No);
  cancelPressed(run);
  EXPECT_EQ(run.cancelflag, "N");
  form2.message("nothing to wait for");
}

// The window touches a label only when its text changes, and runs its
// events on a 20 ms budget: a Cancel confirmed there still stops the pass
// before its next record.
TEST_F(Windows, AFigureIsPaintedOnlyWhenItChangesAndCancelStopsBeforeTheNextRecord) {
  struct Paints : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
      return count += event->type() == QEvent::Paint, false;
    }
  } paints;
  auto* figure = form2.findChild<QLabel*>("lblPerc2");
  form2.setVisible(Control::lblPerc2, true);
  form2.show();
  // Its run fails at once (no database) and the window closes: the figure
  // is watched in a window of its own.
  processUntil([&] { return form2.runState() != nullptr && !form2.isVisible(); });
  figure->setParent(nullptr);
  figure->show();
  processUntil([] { return false; }, 100);  // shown and painted once
  figure->installEventFilter(&paints);
  // Painted at once, or (within 20 ms of the last) when the window system runs.
  for (const char* text : {"12.34", "12.34", "12.35", "12.35"}) form2.setCaption(Control::lblPerc2, text);
  QCoreApplication::processEvents();
  EXPECT_EQ(paints.count, 2);
  EXPECT_EQ(figure->text(), "12.35");
  // A wait for the database is shown in place of the step until the figure moves on.
  auto* step = form2.findChild<QLabel*>("lblPerc3");
  form2.waitingForDatabase(store::WaitReason::Server);
  EXPECT_EQ(step->text(), "waiting for the PostgreSQL server, which does not answer");
  form2.setCaption(Control::lblPerc2, "12.36");
  EXPECT_EQ(step->text(), "percent complete (step 1 of 2)");
  figure->removeEventFilter(&paints);
  figure->hide();
  figure->setParent(&form2);

  struct Confirming : ProgressWindow {
    void yield() override {  // Cancel is pressed 30 ms into the allocation
      if (!pressed) QTimer::singleShot(30, findChild<QPushButton*>("cmdCancel"), &QPushButton::click);
      pressed = true;
      ProgressWindow::yield();
    }
    Answer confirmCancel() override { return atCancel = runState()->percent, Answer::Yes; }
    bool pressed = false;
    double atCancel = -1;
  } window;
  JobFolder folder;
  folder.db().insertParameters({{"RunAlone", "N"}});
  folder.db().exec("BEGIN");
  folder.addJob(std::vector<std::string>(20000, "12345"));
  folder.db().exec("COMMIT");
  bool ended = false;
  QObject::connect(&window, &ProgressWindow::runEnded, [&] { ended = true; });
  window.showRun();
  ASSERT_TRUE(processUntil([&] { return ended; }));
  EXPECT_EQ(window.runState()->cancelflag, "Y");
  EXPECT_GT(window.atCancel, 0);
  EXPECT_LT(window.atCancel, 100);
  EXPECT_EQ(window.runState()->percent, window.atCancel);  // no record after it
}

// "Print Again" shows once the folder holds MAILSORT.PDF, and says in the
// status line where the pages went (the tests find no printer queue).
TEST_F(Windows, StartDialogWaitsForOkRunsOnceAtATimeAndThenOffersToPrintAgain) {
  JobFolder folder;
  folder.db().insertParameters({{"RunAlone", "N"}, {"RunCodes", "Y"}});
  StartDialog form1(&form2);
  auto* again = form1.findChild<QPushButton*>("cmdPrintAgain");
  EXPECT_EQ(form1.load(), GateResult::Wait);
  EXPECT_TRUE(form1.isVisible());
  EXPECT_FALSE(form2.isVisible() || again->isVisible());
  EXPECT_EQ(folder.flag("RunCodes"), "Y");
  {
    OutputFile pdf;
    ::close(pdf.create("MAILSORT.PDF"));
    pdf.putInPlace();
  }

  int ended = 0;
  QObject::connect(&form2, &ProgressWindow::runEnded, [&](bool chain) { ended += chain ? 100 : 1; });
  auto* ok = form1.findChild<QPushButton*>("cmdOK");
  ok->click();
  ok->click();  // only brings the window forward
  EXPECT_TRUE(form2.isVisible());
  ASSERT_TRUE(processUntil([&] { return ended > 0; }));
  processUntil([] { return false; }, 200);
  EXPECT_EQ(ended, 1);
  EXPECT_FALSE(form2.isVisible());
  EXPECT_TRUE(form1.isVisible());
  EXPECT_TRUE(folder.tableExists("bags"));
  EXPECT_EQ(form1.runStatus().left(10), "Finished: ") << form1.runStatus().toStdString();
  ok->click();  // a second run
  ASSERT_TRUE(processUntil([&] { return ended > 1; }));
  EXPECT_EQ(ended, 2);
  EXPECT_TRUE(again->isVisible());
  again->click();
  EXPECT_EQ(form1.runStatus().toStdString(),
            "Not printed again: no printer queue to print on: the printer chosen is none.");
}

// Outside Chain Mode an error sends the operator back to the Start Dialog
// with its message under the buttons, and the window holds nothing while
// it waits: a batch run can use the job. A job that cannot be opened at all
// brings the chooser, and OK then runs the job chosen.
TEST_F(Windows, AnErrorSendsTheOperatorBackToTheStartDialogAndAnIdleWindowHoldsNothing) {
  JobFolder good;
  good.db().insertParameters({{"RunAlone", "N"}});
  const std::string home = std::filesystem::canonical(good.path()).string();
  JobFolder folder;  // the current one: parmcode holds no record
  const std::string missing = (std::filesystem::current_path() / "mailsort.mdb").string();
  StartDialog form1(&form2);
  std::vector<std::string> asked;
  form1.setJobChooser([&](const std::string& place) { return asked.push_back(place), home; });
  int failed = 0, ended = 0;
  QObject::connect(&form2, &ProgressWindow::runFailed, [&] { ++failed; });
  QObject::connect(&form2, &ProgressWindow::runEnded, [&] { ++ended; });
  ASSERT_EQ(form1.load(), GateResult::Wait);
  auto* ok = form1.findChild<QPushButton*>("cmdOK");

  ok->click();
  ASSERT_TRUE(processUntil([&] { return failed == 1; }));
  EXPECT_FALSE(form2.isVisible());
  EXPECT_TRUE(form1.isVisible());
  EXPECT_TRUE(form1.runStatus().contains("parmcode holds no record")) << form1.runStatus().toStdString();
  EXPECT_TRUE(asked.empty());                // the job could be opened
  EXPECT_EQ(startGate(), GateResult::Wait);  // nothing held

  // The file gone: the chooser names it, and the job chosen is the one OK runs.
  std::filesystem::remove("mailsort.mdb");
  ok->click();
  ASSERT_TRUE(processUntil([&] { return failed == 2; }));
  ASSERT_EQ(asked, std::vector<std::string>{missing});
  EXPECT_EQ(std::filesystem::current_path().string(), home);
  EXPECT_TRUE(form1.isVisible());
  ok->click();
  ASSERT_TRUE(processUntil([&] { return ended == 1; }));
  EXPECT_TRUE(form1.isVisible());
  EXPECT_EQ(form1.runStatus().left(10), "Finished: ") << form1.runStatus().toStdString();
  // While the dialog waits for OK a batch run in the same folder goes through.
  EXPECT_FALSE(form2.runState()->mdb);
  ASSERT_EQ(testing::shellIn(home, "'" MAILSORT_BINARY_DIR "/mailsort' --batch --no-print 2>batch.err"), 0)
      << testing::readFile(home + "/batch.err");
}

// A run killed after its commit left its journal: before OK the Start
// Dialog puts that run's files in place and says so under its buttons.
TEST_F(Windows, StartDialogFinishesTheFilesOfARunKilledAfterItsCommit) {
  JobFolder folder;
  folder.db().insertParameters({{"RunAlone", "N"}});
  {
    auto db = store::Database::open(store::kMailsortDatabase, store::OpenMode::Shared);
    db->beginRun();
    const std::string token = db->markRun();
    Publication publication;
    OutputFile file;
    ::close(file.create("POFILE.DAT"));
    publication.stage(file);
    publication.prepare(db->identity(), token, kNoHandOver);
    db->commitRun();
    publication.leaveForRecovery();
  }
  StartDialog form1(&form2);
  EXPECT_EQ(form1.load(), GateResult::Wait);
  ASSERT_TRUE(processUntil([&] { return !form1.runStatus().isEmpty(); }, 5000));
  EXPECT_EQ(form1.runStatus().toStdString(), "The last run in " +
                                                 std::filesystem::canonical(folder.path()).string() +
                                                 " had finished; its files have now been put in place.");
  EXPECT_TRUE(std::filesystem::exists("POFILE.DAT"));
  EXPECT_FALSE(form2.isVisible());
}

// The status line wraps between words, never inside an option name: a word
// joiner follows each hyphen of an option, and of no other word.
TEST_F(Windows, TheStatusLineNeverBreaksAnOptionName) {
  StartDialog form1(&form2);
  const QString said = "Finished: 1,180 Mailsort bags; not printed (--no-print): re-run with -C dir.";
  form1.showRunStatus(said);
  EXPECT_EQ(form1.runStatus(), said);
  EXPECT_EQ(form1.findChild<QLabel*>("lblStatus")->text(),
            QString(said).replace("--no-print", "-\u2060-\u2060no-\u2060print").replace("-C", "-\u2060C"));
}

// Where no job is found the Start Dialog asks for one, naming the path it
// tried, and goes on in the folder chosen, or the folder of the file chosen.
TEST_F(Windows, WithoutAJobTheStartDialogAsksForAFolderOrAFile) {
  JobFolder job;
  job.db().insertParameters({{"RunAlone", "N"}});
  const std::filesystem::path home = std::filesystem::canonical(job.path());
  testing::TempDir empty;
  StartDialog form1(&form2);
  std::vector<std::string> asked;
  std::string answer;
  form1.setJobChooser([&](const std::string& missing) { return asked.push_back(missing), answer; });
  for (const std::string& chosen : {std::string(), home.string(), (home / "mailsort.mdb").string()}) {
    SCOPED_TRACE(chosen);
    testing::InFolder in(empty.path());
    asked.clear();
    answer = chosen;
    std::string database = chosen.ends_with(".mdb") ? "other.mdb" : "mailsort.mdb";
    EXPECT_EQ(form1.findJob(database), !chosen.empty());  // nothing chosen: the program ends
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], std::filesystem::canonical(empty.path()).string() + "/" +
                            (chosen.ends_with(".mdb") ? "other.mdb" : "mailsort.mdb"));
    if (chosen.empty()) continue;
    EXPECT_EQ(std::filesystem::current_path(), home);
    EXPECT_EQ(database, (home / "mailsort.mdb").string());
    EXPECT_EQ(form1.load(database), GateResult::Wait);
  }
}

// The Start Dialog's job and printer lines, with a queue list of the test's
// own and the user's settings in a folder of the test's own.
class StartDialogLines : public Windows {
 protected:
  void SetUp() override {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(config_.path()));
    QSettings("mailsort", "mailsort").clear();
  }
  // A dialog loaded in the job folder, with the queues "office" (the
  // default), "b-queue" and "a-queue".
  std::unique_ptr<StartDialog> loaded(std::vector<std::string> queues = {"b-queue", "office", "a-queue"},
                                      const std::optional<PrintOn>& fixed = {}) {
    auto form1 = std::make_unique<StartDialog>(&form2);
    form1->setQueueLister([queues] {
      PrinterQueues list{queues, {}};
      if (std::find(queues.begin(), queues.end(), "office") != queues.end()) list.defaultName = "office";
      return list;
    });
    if (fixed) form1->fixPrinter(*fixed);
    EXPECT_EQ(form1->load(), GateResult::Wait);
    return form1;
  }
  static QString text(StartDialog& form1, const char* name) {
    auto* label = form1.findChild<QLabel*>(name);
    return label && label->isVisibleTo(&form1) ? label->text() : "(hidden)";
  }
  static QStringList printers(StartDialog& form1) {
    auto* combo = form1.findChild<QComboBox*>("cboPrinter");
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
  }
  static QComboBox* combo(StartDialog& form1) { return form1.findChild<QComboBox*>("cboPrinter"); }
  testing::TempDir config_;
};

// The job is read with a look: nothing is written to the file, nothing is
// left beside it, and nothing is held afterwards. A job that cannot be read
// says so in a line of its own.
TEST_F(StartDialogLines, ShowTheJobReadWithALookAndThePrinterTheRunWillUse) {
  JobFolder folder;
  folder.db().insertParameters({{"RunAlone", "N"},
                                {"Company Name", "Acme Mailing Ltd"},
                                {"JobRef", "J-2024-117"},
                                {"service", "M1"},
                                {"Mailsort120", "Y"},
                                {"Format", "LL"}});
  folder.addJob({"AB1", "AB1", "AB2"});
  const std::string before = testing::readFile("mailsort.mdb");
  const JobSummary job = readJobSummary("mailsort.mdb");
  EXPECT_TRUE(job.read) << job.problem;
  EXPECT_TRUE(testing::readFile("mailsort.mdb") == before)
      << "the look wrote into the file";  // not even its mode
  EXPECT_FALSE(std::filesystem::exists("mailsort.mdb-wal"));
  EXPECT_EQ(startGate(), GateResult::Wait);  // nothing held
  auto form1 = loaded();
  EXPECT_EQ(text(*form1, "lblJobPlace").toStdString(), std::filesystem::current_path().string());
  EXPECT_EQ(text(*form1, "lblCompanyName"), "Acme Mailing Ltd");
  EXPECT_EQ(text(*form1, "lblJobRef"), "J-2024-117");
  EXPECT_EQ(text(*form1, "lblService"), "M1 120, Large Letter");  // as the Planning Report names them
  EXPECT_EQ(text(*form1, "lblAddresses"), "3");
  EXPECT_EQ(text(*form1, "lblJobUnread"), "(hidden)");
  // The default queue first, the others in order, then no printer.
  EXPECT_EQ(printers(*form1), QStringList({"office (the default)", "a-queue", "b-queue", "no printer"}));
  EXPECT_TRUE(combo(*form1)->isEnabled());
  EXPECT_EQ(form1->printOn().kind, PrintOn::Queue);
  EXPECT_EQ(form1->printOn().queue, "office");
  // No queue at all: no printer is all there is.
  EXPECT_EQ(printers(*loaded({})), QStringList({"no printer"}));

  const int other = ::open("mailsort.mdb", O_RDONLY);  // another program's run
  ASSERT_EQ(::flock(other, LOCK_EX), 0);
  form1->showJob(std::string("mailsort.mdb"));
  ::close(other);
  EXPECT_EQ(text(*form1, "lblJobUnread"), "The job cannot be read: another program holds it");
  EXPECT_EQ(text(*form1, "lblCompanyName"), "(hidden)");
  folder.db().exec("DROP TABLE kvwork");
  form1->showJob(std::string("mailsort.mdb"));
  EXPECT_TRUE(text(*form1, "lblJobUnread").startsWith("The job cannot be read: Table 'kvwork' not found"))
      << text(*form1, "lblJobUnread").toStdString();
}

// The printer chosen is remembered for the next start; a queue that has
// gone gives the default one again. --printer and --no-print win over the
// choice remembered: the line shows theirs, cannot be changed, and the
// choice is kept for later.
TEST_F(StartDialogLines, ThePrinterChosenIsRememberedAndTheCommandLineWins) {
  JobFolder folder;
  folder.db().insertParameters({{"RunAlone", "N"}});
  auto choose = [&](int index) {  // as the user chooses it
    auto form1 = loaded();
    combo(*form1)->setCurrentIndex(index);
    emit combo(*form1)->activated(index);
  };
  choose(2);
  auto form1 = loaded();
  EXPECT_EQ(combo(*form1)->currentText(), "b-queue");
  EXPECT_EQ(form1->printOn().queue, "b-queue");
  choose(3);
  EXPECT_EQ(loaded()->printOn().kind, PrintOn::Nowhere);
  choose(1);
  EXPECT_EQ(loaded({"b-queue", "office"})->printOn().queue, "office");  // a-queue has gone
  choose(2);
  auto none = loaded({"b-queue", "office"}, PrintOn::nowhere());
  EXPECT_EQ(none->printOn().kind, PrintOn::Nowhere);
  EXPECT_EQ(combo(*none)->currentText(), "no printer");
  EXPECT_FALSE(combo(*none)->isEnabled());
  auto named = loaded({"b-queue", "office", "a-queue"}, PrintOn::queueNamed("a-queue"));
  EXPECT_EQ(named->printOn().queue, "a-queue");
  EXPECT_EQ(combo(*named)->currentText(), "a-queue");
  EXPECT_FALSE(combo(*named)->isEnabled());
  EXPECT_EQ(loaded()->printOn().queue, "b-queue");  // kept for later
}

TEST(StartGate, RefusesWhileHeldAndInChainModeClearsOnlyRunCodes) {
  JobFolder folder;
  folder.db().insertParameters({{"RunAlone", "Y"}, {"RunCodes", "Y"}, {"RunReports", "Y"}});
  const int other = ::open("mailsort.mdb", O_RDONLY);  // another program's shared hold
  ASSERT_EQ(::flock(other, LOCK_SH), 0);
  EXPECT_EQ(startGate(), GateResult::Refused);
  EXPECT_EQ(folder.flag("RunCodes"), "Y");  // refused before anything was written
  ::close(other);
  EXPECT_EQ(startGate(), GateResult::ChainMode);
  EXPECT_EQ(folder.flag("RunCodes") + folder.flag("RunAlone") + folder.flag("RunReports"), "NYY");
  // The check is handed over to the run: no other check passes until the
  // run holds the database shared, and then the exclusive hold has ended.
  EXPECT_EQ(startGate(), GateResult::Refused);
  store::Database::open("mailsort.mdb", store::OpenMode::Shared)->close();
  EXPECT_EQ(startGate(), GateResult::ChainMode);
}

TEST(StartGate, AnythingButAnExactYOrAReadableRecordWaitsForOk) {
  for (Value runAlone : {Value("N"), Value("y"), Value("Y "), Value(""), Value()}) {
    SCOPED_TRACE(runAlone.textOrEmpty());
    JobFolder folder;
    folder.db().insertParameters({{"RunAlone", runAlone}, {"RunCodes", "Y"}});
    EXPECT_EQ(startGate(), GateResult::Wait);
    EXPECT_EQ(folder.flag("RunCodes"), "Y");
  }
  for (std::string sql : {"", "DROP TABLE parmcode", "ALTER TABLE parmcode DROP COLUMN RunCodes", "rm"}) {
    SCOPED_TRACE(sql);
    JobFolder folder;  // "": parmcode without a record
    if (sql.starts_with("ALTER")) folder.db().insertParameters({{"RunAlone", "Y"}});
    if (sql == "rm") std::filesystem::remove("mailsort.mdb");
    if (sql.size() > 2) folder.db().exec(sql);
    EXPECT_EQ(startGate(), GateResult::Wait);
    EXPECT_EQ(std::filesystem::exists("mailsort.mdb"), sql != "rm");  // never created
  }
}

}  // namespace
}  // namespace ms
