#include "opening.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "record_file.hpp"

namespace tilvex::grid {

namespace {

// Why the record found (`text`, read as `found`) stops this run, on
// standard error; 0 if it does not.
int refusal(const Options& o, const std::string& header, std::size_t total, std::string_view text,
            const std::optional<Progress>& found, const ResultFile& record) {
  const auto refuse = [](const std::string& why) {
    std::fprintf(stderr, "tilvex-grid: %s\n", why.c_str());
    return 2;
  };
  const std::string out = "'" + o.output + "'";
  if (o.resume) {
    if (!found) return refuse(o.progress + ": no record of a grid to resume");
    if (found->header != header)
      return refuse(o.progress + ": records another grid (list, confidence level or part "
                                 "differ); nothing appended");
    return 0;
  }
  if (!found && !text.empty())
    return refuse("'" + o.progress + "' is not the record of a grid; it is left alone");
  if (!found || o.again) return 0;
  if (found->header != header)
    return refuse(out + " holds another grid (its record '" + o.progress +
                  "' names other points, confidence level or part); --again appends this grid "
                  "after it, with a record of its own");
  if (found->complete)
    return refuse(out + " is already complete: " +
                  std::to_string(found->done - found->failed) + " points appended on " +
                  modified_at(record.descriptor()) + "; --again appends them a second time");
  if (found->done > 0)
    return refuse(out + " holds an unfinished grid, " + std::to_string(found->done) + " of " +
                  std::to_string(total) +
                  " points done; --resume appends the rest, --again appends every point anew");
  return 0;  // only its header: nothing of it was appended
}

}  // namespace

bool same_file(int a, int b) {
  struct stat sa {}, sb {};
  return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool write_text(ResultFile& file, std::string_view text) {
  const std::string_view pieces[] = {text};
  const AppendTarget target[] = {{&file, pieces}};
  return append_all(target, {"tilvex-grid"}).failed < 0;
}

// Opens the result files, then the record, locked for the grid's life:
// 0, or the exit status.
int open_files(const Options& o, Files& f) {
  if (!f.output.open(o.output)) {
    std::printf("unable to open %s\n", o.output.c_str());
    return kOutput;
  }
  if (!f.output2.open(o.output2)) {
    std::printf("unable to open %s\n", o.output2.c_str());
    return kOutput2;
  }
  struct stat st {};
  if (::fstat(f.output.descriptor(), &st) != 0 || !S_ISREG(st.st_mode)) {
    if (o.resume) {
      std::fprintf(stderr,
                   "tilvex-grid: '%s' is not a regular file: no record is kept beside it, so "
                   "there is no grid to resume\n",
                   o.output.c_str());
      return 2;
    }
    std::fprintf(stderr,
                 "tilvex-grid: '%s' is not a regular file: this grid keeps no record and cannot "
                 "be resumed\n",
                 o.output.c_str());
    return 0;
  }
  const RecordOpening r = open_record(o.progress, o.output, f.output.descriptor(), f.record);
  if (r.status == 2) {
    std::fprintf(stderr, "tilvex-grid: %s\n", r.reason.c_str());
    return 2;
  }
  if (r.status != 0) {
    std::printf("unable to write %s\n", o.progress.c_str());
    return kOutput;
  }
  f.keeps_record = true;
  return 0;
}

// Rolls back, under the locks, what a grid or run that died left in the
// files and the record, so that the record read next tells what is in
// the files: 0, or the exit status.
int roll_back(const Options& o, Files& f) {
  std::vector<ResultFile*> files = {&f.output, &f.output2};
  if (f.keeps_record) files.push_back(&f.record);
  const AppendOutcome r = recover(files, {"tilvex-grid"});
  if (r.failed < 0) return 0;
  const std::string& name = r.failed == 0 ? o.output : r.failed == 1 ? o.output2 : o.progress;
  std::printf("unable to write %s\n", name.c_str());
  std::fprintf(stderr, "tilvex-grid: cannot lock '%s': %s\n", name.c_str(), reason(r).c_str());
  return r.failed == 1 ? kOutput2 : kOutput;
}

// Reads the record and settles what this run does with it: goes on with
// it (`progress` then holds what is done) or begins it anew. 0, or the
// exit status.
int settle_record(const Options& o, const std::string& header, std::size_t total, Files& f,
                  Progress& progress) {
  if (!f.keeps_record) return 0;
  std::string text;
  if (!read_whole(f.record.descriptor(), text)) {
    std::printf("unable to write %s\n", o.progress.c_str());
    return kOutput;
  }
  const std::optional<Progress> found = read_progress(text);
  if (const int refused = refusal(o, header, total, text, found, f.record); refused != 0)
    return refused;
  const bool go_on = found && found->header == header && !o.again;
  if (go_on) progress = *found;
  const std::size_t keep = go_on ? progress.length + (progress.complete ? kComplete.size() : 0) : 0;
  if (::ftruncate(f.record.descriptor(), static_cast<off_t>(keep)) != 0 ||
      (!go_on && !write_text(f.record, header))) {
    std::printf("unable to write %s\n", o.progress.c_str());
    return kOutput;
  }
  return 0;
}

}  // namespace tilvex::grid
