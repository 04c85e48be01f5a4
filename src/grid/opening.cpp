#include "opening.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <vector>

#include "record_file.hpp"
#include "text/error.hpp"

namespace tilvex::grid {

namespace {

// Why the record found (`text`, read as `found`) stops this run, in
// words; empty if it does not.
std::string refusal(const Options& o, const std::string& header, std::size_t total,
                    std::string_view text, const std::optional<Progress>& found,
                    const ResultFile& record) {
  const std::string out = "'" + o.output + "'";
  if (o.resume) {
    if (!found) return o.progress + ": no record of a grid to resume";
    if (found->header != header)
      return o.progress + ": records another grid (list, confidence level or part differ); "
                          "nothing appended";
    if (found->narrow > 0)  // its table would mix two widths of row
      return o.progress + ": its rows were recorded by an older tilvex-grid, with fewer columns; "
                          "nothing appended (finish the grid with that tilvex-grid, or append it anew "
                          "with --again)";
    return {};
  }
  if (!found && !text.empty()) return "'" + o.progress + "' is not the record of a grid; it is left alone";
  if (!found || o.again) return {};
  if (found->header != header)
    return out + " holds another grid (its record '" + o.progress +
           "' names other points, confidence level or part); --again appends this grid after it, "
           "with a record of its own";
  if (found->complete)
    return out + " is already complete: " + std::to_string(found->done - found->failed) +
           " points appended on " + modified_at(record.descriptor()) +
           "; --again appends them a second time";
  if (found->done > 0)
    return out + " holds an unfinished grid, " + std::to_string(found->done) + " of " +
           std::to_string(total) +
           " points done; --resume appends the rest, --again appends every point anew";
  return {};  // only its header: nothing of it was appended
}

Error unwritable(const ResultFile& file, int status, std::string reason = {}) {
  return Error(std::move(reason), status, "unable to write " + file.name());
}

}  // namespace

bool same_file(int a, int b) {
  struct stat sa {}, sb {};
  return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool write_text(ResultFile& file, std::string_view text, const Tell& tell) {
  const std::string_view pieces[] = {text};
  const AppendTarget target[] = {{&file, pieces}};
  return append_all(target, {tell}).failed < 0;
}

std::string open_files(const Options& o, Files& f) {
  if (!f.output.open(o.output)) throw Error({}, kOutput, "unable to open " + o.output);
  if (!f.output2.open(o.output2)) throw Error({}, kOutput2, "unable to open " + o.output2);
  struct stat st {};
  if (::fstat(f.output.descriptor(), &st) != 0 || !S_ISREG(st.st_mode)) {
    const std::string name = "'" + o.output + "' is not a regular file: ";
    if (o.resume) throw Error(name + "no record is kept beside it, so there is no grid to resume", 2);
    return name + "this grid keeps no record and cannot be resumed";
  }
  const RecordOpening r = open_record(o.progress, o.output, f.output.descriptor(), f.record);
  if (r.status == 2) throw Error(r.reason, 2);
  if (r.status != 0) throw Error({}, kOutput, "unable to write " + o.progress);
  f.keeps_record = true;
  return {};
}

bool roll_back(Files& f, const std::atomic<int>* stop) {
  std::vector<ResultFile*> files = {&f.output, &f.output2};
  if (f.keeps_record) files.push_back(&f.record);
  const AppendOutcome r = recover(files, {f.tell, stop});
  if (r.stopped) return false;
  if (r.failed < 0) return true;
  throw unwritable(*r.file, r.file == &f.output2 ? kOutput2 : kOutput,
                   "cannot lock '" + r.file->name() + "': " + reason(r));
}

Progress settle_record(const Options& o, const std::string& header, std::size_t total, Files& f) {
  if (!f.keeps_record) return {};
  std::string text;
  if (!read_whole(f.record.descriptor(), text)) throw unwritable(f.record, kOutput);
  const std::optional<Progress> found = read_progress(text);
  if (std::string why = refusal(o, header, total, text, found, f.record); !why.empty())
    throw Error(std::move(why), 2);
  const bool go_on = found && found->header == header && !o.again;
  const Progress progress = go_on ? *found : Progress{};
  const std::size_t keep = go_on ? progress.length + (progress.complete ? kComplete.size() : 0) : 0;
  if (::ftruncate(f.record.descriptor(), static_cast<off_t>(keep)) != 0 ||
      (!go_on && !write_text(f.record, header, f.tell)))
    throw unwritable(f.record, kOutput);
  return progress;
}

}  // namespace tilvex::grid
