#include "point.hpp"

#include <cerrno>
#include <cstring>

#include "formats/health.hpp"
#include "formats/resample_results.hpp"
#include "progress.hpp"
#include "table_file.hpp"

namespace tilvex::grid {

std::unique_ptr<Outcome> analyse_point(const Point& p, float level, const ResultFile& output,
                                       const ResultFile& output2, const std::shared_ptr<InputBuffers>& buffers) {
  auto o = std::make_unique<Outcome>(buffers);
  const std::string name = "'" + p.input + "'";
  if (!o->input.open(p.input)) {
    o->failure = "unable to open " + p.input;
    o->reason = "cannot open " + name + ": " + std::strerror(errno);
  } else if (!o->input.read()) {
    o->failure = "unable to read " + p.input;
    o->reason = o->input.error() == ENOMEM ? p.input + ": out of memory after reading " +
                                                 std::to_string(o->input.size()) + " bytes"
                                           : "cannot read " + name + ": " + std::strerror(o->input.error());
  } else if (o->input.text().empty()) {
    o->failure = "unable to read " + p.input;
    o->reason = name + " is empty";
  } else if (std::string why = formats::not_resample_results_file(o->input.text(), name); !why.empty()) {
    o->failure = "unable to read " + p.input;
    o->reason = std::move(why);
  } else if (o->input.is(output.descriptor()) || o->input.is(output2.descriptor())) {
    // As tilvex: an output that is the input itself would change the data.
    const std::string& out = o->input.is(output.descriptor()) ? output.name() : output2.name();
    o->failure = "unable to open " + out;
    o->reason = "'" + out + "' is the input file; the results go to other files";
  } else {
    o->input.close();  // compared, and read: a grid holds many points
    // The health is judged as the analysis reads the input.
    formats::HealthWatch watch;
    o->texts.emplace(analyse_in_place(o->input.bytes(), level, p.grid, {.stress = true, .watcher = &watch}));
    o->notes = watch.notes(name);
    formats::add_unread(o->notes, name, o->texts->analysis);
    o->row = table_row(p, o->texts->analysis, o->texts->stress, formats::note_codes(o->notes));
    std::vector<std::string> texts;
    for (const formats::HealthNote& n : o->notes) texts.push_back(n.text);
    o->record = o->row + warning_lines(texts);
    return o;
  }
  o->input.close();
  o->row = table_row(p, o->failure);
  o->record = o->row;
  return o;
}

}  // namespace tilvex::grid
