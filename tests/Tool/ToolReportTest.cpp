// The HTML report of the iris example, opened in a real browser: headless
// Chromium renders it without a script error and takes a screenshot. Where
// Chromium is absent the test says so and is skipped (.ci/run installs it).

#include "Tool/ToolReport.h"

#include "Boot/FitPipeline.h"
#include "Boot/Model.h"
#include "Tool/ToolCommon.h"
#include "tests/Boot/ProgramRunner.h"

#include "DataTools/CsvImport/CsvImport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

using namespace kestrane;
using programtest::Slurp;
using programtest::TempPath;
using programtest::WriteFile;

TEST(ToolReportTest, IrisReportRendersInChromiumWithoutScriptErrors) {
  const std::string source = std::string(KESTRANE_SOURCE_DIR) + "/examples/iris/";
  // The example's rows as the tool reads them.
  std::ifstream csv(source + "iris.csv", std::ios::binary);
  LabelledRows read = ReadLabelledRows(csv, ',', ImportRequest{});
  const std::vector<std::vector<double>> rows = std::move(read.values);
  const std::vector<std::string> labels = std::move(read.labels);
  NetworkShape shape;
  shape.rules = 12;
  TrainSettings settings;
  settings.epochs = 200;
  Model model = Fit(rows, labels, {"sepal_length", "sepal_width", "petal_length", "petal_width"},
                    shape, settings, nullptr, "species");
  const std::string network = WriteFile("iris.wgt", model.NetworkText());
  const std::string ranges = WriteFile("iris.ranges", model.RangesText());
  const std::string page = TempPath("report.html");

  std::ostringstream out, err;
  const int status = RunGuarded(
      [&] {
        return ToolReport({network, "--ranges", ranges, "--data", source + "iris.csv", "-o", page},
                          out, err);
      },
      err);
  ASSERT_EQ(status, 0) << err.str();
  const std::string html = Slurp(page);
  for (const char *part : {"<svg", "petal_length", "versicolor", "Confusion matrix",
                           "Feature importance", "Row ", "high</text>"})
    EXPECT_NE(html.find(part), std::string::npos) << part;
  // Self-contained: nothing to fetch.
  for (const char *outside : {"http:", "https:", " src=", "<link", "@import"})
    EXPECT_EQ(html.find(outside), std::string::npos) << outside;

  if (std::system("command -v chromium >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "chromium is not installed: the report was not opened in a browser";
  const std::string profile = TempPath("chromium-profile");
  const std::string shot = TempPath("report.png");
  const std::string dom = TempPath("dom.html");
  const std::string log = TempPath("chromium.log");
  const std::string browser = "chromium --headless --no-sandbox --disable-gpu --no-first-run "
                              "--enable-logging=stderr --v=0 --user-data-dir='" +
                              profile + "' ";
  ASSERT_EQ(
      std::system(
          (browser + "--dump-dom 'file://" + page + "' >'" + dom + "' 2>'" + log + "'").c_str()),
      0)
      << Slurp(log);
  ASSERT_EQ(std::system((browser + "--window-size=1280,2400 --screenshot='" + shot + "' 'file://" +
                         page + "' >/dev/null 2>>'" + log + "'")
                            .c_str()),
            0)
      << Slurp(log);
  // The page's script marks the page at its very end: an exception on the
  // way leaves the mark out, and the console line says which.
  EXPECT_NE(Slurp(dom).find("data-rendered=\"yes\""), std::string::npos) << Slurp(log);
  EXPECT_EQ(Slurp(log).find("Uncaught"), std::string::npos) << Slurp(log);
  const std::string png = Slurp(shot);
  ASSERT_GT(png.size(), 10000u);
  EXPECT_EQ(png.substr(1, 3), "PNG");
}

} // namespace
