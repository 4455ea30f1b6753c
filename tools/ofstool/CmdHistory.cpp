// ofstool history: the runs that wrote to a drive, newest first.
#include <cstdio>
#include <string>

#include "drive/IdentityText.h"
#include "ofstool/Commands.h"
#include "system/RunHistory.h"

int ofstool::RunHistory(const Words& words) {
  const std::optional<bool> asked = JsonOnly(words, "history");
  if (!asked) return 2;
  const bool json = *asked;
  const ofs::RunHistory history(ofs::DefaultHistoryPath());
  std::string problem;
  const std::vector<ofs::RunSummary> runs = ofs::PairRuns(history.Read(&problem));
  // A history that is there but cannot be read hides every run: never say there were none.
  if (!problem.empty()) {
    std::fprintf(stderr, "ofstool: cannot read the run history %s: %s.\n", history.Path().c_str(), problem.c_str());
    return 1;
  }
  if (runs.empty() && !json) {
    std::printf("No run has written to a drive yet (%s).\n", ofs::ShownName(history.Path()).c_str());
    return 0;
  }
  for (const ofs::RunSummary& run : runs) {
    if (!json) {
      std::printf("%s\n", ofs::ShownName(ofs::SummaryLine(run)).c_str());
      continue;
    }
    // A run whose start line was lost stands for itself by its end line.
    if (run.start.event == "start") std::fputs(ofs::RecordJson(run.start).c_str(), stdout);
    if (run.end) std::fputs(ofs::RecordJson(*run.end).c_str(), stdout);
  }
  return 0;
}
