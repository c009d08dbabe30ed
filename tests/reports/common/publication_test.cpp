// The publication of a run's files: staged, named in a journal before the
// database commits, renamed after it; and what the next start does with a
// journal that a killed run left.
#include "reports/common/publication.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "reports/common/output_file.h"
#include "support/fixture_db.h"
#include "values/fault.h"

namespace ms {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

const char* const kNames[] = {"POFILE.DAT", "POLINE.CSV", "MAILSORT.PDF"};

// A folder whose files say "earlier", with a publication that has staged a
// new file under each name.
struct Folder {
  Folder() {
    for (const char* name : kNames) std::ofstream(dir.file(name)) << "earlier\n";
    stageAll();
  }
  void stageAll() {
    for (const char* name : kNames) {
      OutputFile file;
      const int fd = file.create(dir.file(name));
      EXPECT_EQ(::write(fd, "new\n", 4), 4);
      ::close(fd);
      publication->stage(file);
    }
  }
  std::string journal() const { return dir.file(Publication::kJournalName); }
  // What the folder holds: each name's text, and whether anything else is left.
  std::string holds() const {
    std::string text;
    for (const char* name : kNames) text += readFile(dir.file(name));
    for (const auto& entry : fs::directory_iterator(dir.path()))
      if (entry.path().filename().string()[0] == '.') text += "+" + entry.path().filename().string();
    return text;
  }
  // As a start after a kill finds it.
  void killed() {
    publication->leaveForRecovery();
    publication.reset();
    publication = std::make_unique<Publication>(dir.path());
  }

  testing::TempDir dir;
  std::unique_ptr<Publication> publication = std::make_unique<Publication>(dir.path());
};

TEST(Publication, TheJournalStandsBeforeTheCommitAndTheNamesChangeOnlyAfterIt) {
  Folder folder;
  EXPECT_THROW(Publication{folder.dir.path()}, RunError);  // one run at a time in a folder
  folder.publication->prepare("/job/mailsort.mdb", "user_version 7", kHandOverWithLabels);
  const Journal journal = Journal::parse(readFile(folder.journal()));
  EXPECT_EQ(std::tuple(journal.database, journal.token, journal.handOver),
            std::tuple("/job/mailsort.mdb", "user_version 7", kHandOverWithLabels));
  ASSERT_EQ(journal.files.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(journal.files[i].second, kNames[i]);
    EXPECT_EQ(readFile(folder.dir.file(journal.files[i].first)), "new\n");
  }
  EXPECT_EQ(readFile(folder.dir.file("POFILE.DAT")), "earlier\n");

  folder.publication->publish();
  EXPECT_EQ(folder.holds(), "new\nnew\nnew\n");
  EXPECT_EQ(folder.publication->placed().front(), fs::canonical(folder.dir.path()).string() + "/POFILE.DAT");
}

TEST(Publication, ANextStartFinishesACommittedRunAndClearsOneThatDidNot) {
  for (const bool committed : {true, false}) {
    Folder folder;
    folder.publication->prepare("db", "txid 42", kNoHandOver);
    // Killed after the first rename.
    const Journal left = Journal::parse(readFile(folder.journal()));
    fs::rename(folder.dir.file(left.files[0].first), folder.dir.file("POFILE.DAT"));
    folder.killed();
    std::string asked;
    Journal found;
    const LastRun last = folder.publication->recover(
        "db", [&](const std::string& token) { return asked = token, committed; }, &found);
    EXPECT_EQ(std::tuple(asked, found.files, last),
              std::tuple("txid 42", left.files, committed ? LastRun::Finished : LastRun::Undone));
    // Undone, the first rename stays: a run that did not commit never renames.
    EXPECT_EQ(folder.holds(), committed ? "new\nnew\nnew\n" : "new\nearlier\nearlier\n");
    EXPECT_EQ(folder.publication->recover("db", nullptr), LastRun::Clean);
  }
}

TEST(Publication, AJournalThatCannotBeWrittenFailsBeforeTheCommitAndChangesNothing) {
  Folder folder;
  fs::create_directory(folder.journal());
  EXPECT_THROW(folder.publication->prepare("db", "txid 1", kNoHandOver), RunError);
  folder.publication->discard();
  EXPECT_EQ(folder.holds(), "earlier\nearlier\nearlier\n+.mailsort-publish");
}

// A journal that is not as a run writes it renames and removes nothing.
TEST(Publication, AJournalThatCannotBeTrustedIsRefusedNamingItAndWhatIsWrong) {
  const std::string head = "database\tdb\ntoken\tt\nhandover\tnone\n";
  const std::pair<std::string, std::string> journals[] = {
      {head + "mailsort.mdb\tPOFILE.DAT\n", "line 4 names \"mailsort.mdb\", which is not a temporary name"},
      {head + ".POFILE.DAT.0123abcd\tmailsort.mdb\n", "line 4 names \"mailsort.mdb\", which is not a file"},
      {head + "/tmp/.POFILE.DAT.0123abcd\tPOFILE.DAT\n", "line 4 names \"/tmp/.POFILE.DAT.0123abcd\""},
      {head + ".POFILE.DAT.0123abcd\tsub/POFILE.DAT\n", "line 4 names \"sub/POFILE.DAT\""},
      {head + ".POFILE.DAT.0123abcd\tPOFILE.DAT\r\n", "line 4 holds a carriage return"},
      {head + ".POFILE.DAT.0123abcd\tPOFILE.DAT", "its last line has no line end"},
      {head + ".POFILE.DAT.0123abcd\tPOFILE.DAT\n.POFILE.DAT.4567abcd\tPOFILE.DAT\n",
       "line 5 names POFILE.DAT a second time"},
      {head + ".POFILE.DAT.0123abcd POFILE.DAT\n", "line 4 is not two fields"},
      {"token\tt\ndatabase\tdb\nhandover\tnone\n", "line 1 should give the database"},
      {"database\tdb\ntoken\tt\nhandover\tall\n", "line 3 names no hand-over"},
      {"database\tdb\n", "it ends before its heading lines do"},
      {"", "it is empty"},
  };
  for (const auto& [text, why] : journals) {
    Folder folder;
    folder.publication->prepare("db", "t", kNoHandOver);
    folder.killed();
    std::ofstream(folder.journal(), std::ios::binary | std::ios::trunc) << text;
    const std::string before = folder.holds();
    try {
      folder.publication->recover("db", [](const std::string&) { return true; });
      ADD_FAILURE() << "trusted: " << text;
    } catch (const RunError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(folder.journal()), std::string::npos) << message;
      EXPECT_NE(message.find(why), std::string::npos) << message;
    }
    EXPECT_EQ(folder.holds(), before) << text;
  }
  // Another database's journal is left for that database.
  Folder folder;
  folder.publication->prepare("/a/mailsort.mdb", "t", kNoHandOver);
  folder.killed();
  const std::string before = folder.holds();
  EXPECT_THROW(folder.publication->recover("/b/mailsort.mdb", [](const std::string&) { return true; }),
               RunError);
  EXPECT_EQ(folder.holds(), before);
}

}  // namespace
}  // namespace ms
