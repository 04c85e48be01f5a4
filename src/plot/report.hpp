#pragma once
// A grid's results as one static HTML page that works from the file system
// (no server, no network): the map, the table of points and the stereonet
// of a point clicked on the map or in the table.

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "formats/table.hpp"

namespace tilvex::plot {

// The name of a point's stereonet in a folder: "point_X_Y_Z_T.svg", the
// indices as "%d" writes them ("point_-1_0_0_0.svg": never a leading '-').
std::string point_file_name(const Grid& g);

// The page. `table_text` is the table file's text (the cells are shown as
// written in it), `rows` the same read (read_table), `map_svg` the map as
// render_map draws it (inlined; its points' groups made clickable), `drawn`
// the points whose stereonet lies beside the page (point_file_name),
// `with_accepted` whether an accepted file was given (a point without a
// stereonet says why), `name` the table's name for the title. The counts: points, ok, failed, and with
// warnings (non-empty notes). Everything inline: one CSS and one script,
// the rows as JSON. Allocates the page.
std::string render_report(std::string_view table_text, const std::vector<formats::TableRow>& rows,
                          const std::string& map_svg, const std::set<Grid>& drawn, bool with_accepted,
                          const std::string& name);

}  // namespace tilvex::plot
