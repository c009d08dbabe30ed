// The run's print job ends exactly once, and only when something was printed.
#include "app/run_print_job.h"

#include <gtest/gtest.h>

#include "reports/common/text_page_sink.h"

namespace ms {
namespace {

TEST(RunPrintJob, EndsAJobLeftOpenOnceAndLeavesAnUnstartedOneAlone) {
  {
    TextPageSink paper;
    RunPrintJob job(&paper);
    job.finish();  // cancelled before anything was printed
    EXPECT_FALSE(paper.ended());
  }
  {
    TextPageSink paper;
    RunPrintJob job(&paper);
    job.printLine("Mailsort Line Report");
    job.finish();  // cancelled during the line report
    job.finish();
    EXPECT_EQ(paper.endDocCount(), 1);
    EXPECT_EQ(paper.allText(), std::vector<std::string>{"Mailsort Line Report"});
  }
  {
    TextPageSink paper;
    RunPrintJob job(&paper);
    job.printLine("x");
    job.newPage();
    job.endDoc();  // the planning report ends it
    job.finish();
    EXPECT_EQ(paper.endDocCount(), 1);
    EXPECT_EQ(job.page(), paper.page());
  }
  RunPrintJob nowhere(nullptr);  // a run without a printer
  nowhere.printLine("x");
  nowhere.finish();
  EXPECT_TRUE(nowhere.ended());
}

}  // namespace
}  // namespace ms
