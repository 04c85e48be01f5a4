#include "report.hpp"

#include <algorithm>
#include <cstdio>

namespace tilvex::plot {
namespace {

// `s` as a JSON string; '<' written \u003c so that no text of the table
// ends the script it stands in.
std::string json_string(std::string_view s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == '<') {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// `s` as HTML text.
std::string html_text(std::string_view s) {
  std::string out;
  for (const char c : s) {
    if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '&') out += "&amp;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

// The cells of each row of the table's text, as read_table takes its rows:
// blank lines and header rows skipped.
std::vector<std::vector<std::string_view>> cells_of(std::string_view text) {
  std::vector<std::vector<std::string_view>> out;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.rfind("input\t", 0) == 0) continue;
    std::vector<std::string_view> c;
    for (std::size_t at = 0;;) {
      const std::size_t tab = line.find('\t', at);
      c.push_back(line.substr(at, tab == std::string_view::npos ? std::string_view::npos : tab - at));
      if (tab == std::string_view::npos) break;
      at = tab + 1;
    }
    out.push_back(std::move(c));
  }
  return out;
}

// The column names of a row of `width` cells (39, or the older 31 and 30).
std::vector<std::string> names_of(std::size_t width) {
  std::vector<std::string> names;
  for (std::size_t k = 0; k < formats::kShmaxColumn && k < width; ++k) names.emplace_back(formats::kTableColumns[k]);
  if (width == formats::kTableColumns.size())
    for (std::size_t k = formats::kShmaxColumn; k < width; ++k) names.emplace_back(formats::kTableColumns[k]);
  else if (width == formats::kTableColumnsWithoutStress)
    names.emplace_back("notes");
  return names;
}

const char* const kStyle = R"css(body{font-family:sans-serif;margin:1em;color:#222}
h1{font-size:1.3em;margin:0 0 .3em}
#counts span{margin-right:1.2em}
#top{display:flex;gap:1em;align-items:flex-start}
#map{flex:0 1 58%;min-width:0}
#map svg{width:100%;height:auto;cursor:pointer}
#map g.point.chosen{outline:2px solid #000}
#detail{flex:1 1 40%;min-width:16em;border:1px solid #bbb;padding:.5em 1em;font-size:13px}
#detail h2{font-size:1.1em;margin:.2em 0}
#detail img{max-width:100%}
#detail table td{padding:0 .6em 0 0}
#rows{border-collapse:collapse;font-size:12px;margin-top:1em}
#rows th{cursor:pointer;background:#eee;position:sticky;top:0;white-space:nowrap}
#rows th.asc::after{content:" \25b2"}
#rows th.desc::after{content:" \25bc"}
#rows td,#rows th{border:1px solid #ccc;padding:1px 4px}
#rows tr{cursor:pointer}
#rows tr.failed{background:#fdd}
#rows tr.warned{background:#ffc}
#rows tr.chosen{outline:2px solid #000}
.mark{font-weight:bold}
)css";

const char* const kScript = R"js(
"use strict";
const names = DATA.names, rows = DATA.rows;
const col = n => names.indexOf(n);
const text = (el, s) => { el.textContent = s; return el; };
function make(tag, s) { return text(document.createElement(tag), s === undefined ? "" : s); }
function gridOf(r) { return [1, 2, 3, 4].map(k => r.cells[k]).join(" "); }
function isFailed(r) { return r.cells[col("status")] !== "ok"; }
function isWarned(r) { const k = col("notes"); return k >= 0 && r.cells[k] !== ""; }
function show(i) {
  const r = rows[i], d = document.getElementById("detail");
  d.replaceChildren();
  d.appendChild(make("h2", "grid point " + gridOf(r)));
  const t = document.createElement("table");
  const line = (label, value) => { const tr = t.insertRow(); tr.insertCell().textContent = label; tr.insertCell().textContent = value; };
  line("input", r.cells[col("input")]);
  line("status", r.cells[col("status")]);
  if (!isFailed(r)) {
    line("resamples", r.cells[col("accepted")] + " of " + r.cells[col("n")] + " accepted, threshold " + r.cells[col("threshold")]);
    for (const q of ["phi", "tr1", "pl1", "tr2", "pl2", "tr3", "pl3", "shmax", "aphi"]) {
      const k = col(q);
      if (k >= 0) line(q === "shmax" ? "SHmax" : q === "aphi" ? "A-phi" : q, r.cells[k] + " [" + r.cells[k + 1] + ", " + r.cells[k + 2] + "]");
    }
    if (col("regime") >= 0) line("regime", r.cells[col("regime")] + " (share " + r.cells[col("regime_share")] + ")");
  }
  if (col("notes") >= 0) line("notes", r.cells[col("notes")] || "none");
  t.id = "values";
  d.appendChild(t);
  if (r.svg) {
    const img = document.createElement("img");
    img.src = r.svg;
    img.alt = "stereonet of grid point " + gridOf(r);
    d.appendChild(img);
  } else {
    d.appendChild(make("p", DATA.accepted ? "no stereonet: no accepted resample drawn for this point" : "no stereonet: the page was made without the accepted file"));
  }
  for (const g of document.querySelectorAll("#map g.point")) g.classList.toggle("chosen", g.dataset.grid === gridOf(r));
  for (const tr of document.querySelectorAll("#rows tbody tr")) tr.classList.toggle("chosen", Number(tr.dataset.row) === i);
}
function byGrid(grid) { return rows.findIndex(r => gridOf(r) === grid); }
// A click on the map chooses the point whose place is nearest, within its cell.
const svg = document.querySelector("#map svg");
if (svg) svg.addEventListener("click", e => {
  const m = svg.getScreenCTM();
  if (!m) return;
  const p = new DOMPoint(e.clientX, e.clientY).matrixTransform(m.inverse());
  let best = null, bestD = Infinity;
  for (const g of svg.querySelectorAll("g.point")) {
    const dx = p.x - Number(g.dataset.cx), dy = p.y - Number(g.dataset.cy), r = Number(g.dataset.r);
    const d2 = dx * dx + dy * dy;
    if (Math.abs(dx) <= r && Math.abs(dy) <= r && d2 < bestD) { best = g; bestD = d2; }
  }
  if (best) { const i = byGrid(best.dataset.grid); if (i >= 0) show(i); }
});
// The table, sortable by a click on a column's header: numbers as numbers
// (nan last), other text as text.
const table = document.getElementById("rows");
const head = table.createTHead().insertRow();
names.forEach((n, k) => { const th = make("th", n); th.dataset.col = k; th.addEventListener("click", () => sortBy(k, th)); head.appendChild(th); });
const body = table.createTBody();
function fill(order) {
  body.replaceChildren();
  for (const i of order) {
    const r = rows[i], tr = body.insertRow();
    tr.dataset.row = i;
    if (isFailed(r)) tr.classList.add("failed");
    if (isWarned(r)) tr.classList.add("warned");
    r.cells.forEach(c => { tr.insertCell().textContent = c; });
    tr.addEventListener("click", () => show(i));
  }
}
let order = rows.map((_, i) => i), sorted = -1, ascending = true;
function key(s) { const v = Number(s); return s !== "" && !Number.isNaN(v) ? v : null; }
function sortBy(k, th) {
  ascending = sorted === k ? !ascending : true;
  sorted = k;
  order.sort((a, b) => {
    const x = rows[a].cells[k], y = rows[b].cells[k], kx = key(x), ky = key(y);
    let c;
    if (kx !== null && ky !== null) c = kx - ky;
    else if (kx !== null || ky !== null) return kx !== null ? -1 : 1;  // text and nan after numbers
    else c = x < y ? -1 : x > y ? 1 : 0;
    return (ascending ? c : -c) || a - b;
  });
  for (const h of head.cells) h.classList.remove("asc", "desc");
  th.classList.add(ascending ? "asc" : "desc");
  fill(order);
}
fill(order);
)js";

}  // namespace

std::string point_file_name(const Grid& g) {
  return "point_" + std::to_string(g.x) + "_" + std::to_string(g.y) + "_" + std::to_string(g.z) + "_" +
         std::to_string(g.t) + ".svg";
}

std::string render_report(std::string_view table_text, const std::vector<formats::TableRow>& rows,
                          const std::string& map_svg, const std::set<Grid>& drawn, bool with_accepted,
                          const std::string& name) {
  const auto cells = cells_of(table_text);
  std::size_t ok = 0, failed = 0, warned = 0, width = 0;
  for (const formats::TableRow& r : rows) {
    (r.ok() ? ok : failed) += 1;
    if (!r.notes.empty()) ++warned;
  }
  for (const auto& c : cells) width = std::max(width, c.size());
  std::string data = "{\"accepted\":" + std::string(with_accepted ? "true" : "false") + ",\"names\":[";
  const std::vector<std::string> names = names_of(width);
  for (std::size_t k = 0; k < names.size(); ++k) data += (k ? "," : "") + json_string(names[k]);
  data += "],\"rows\":[\n";
  for (std::size_t i = 0; i < rows.size() && i < cells.size(); ++i) {
    data += i ? ",\n{\"cells\":[" : "{\"cells\":[";
    for (std::size_t k = 0; k < names.size(); ++k) data += (k ? "," : "") + json_string(k < cells[i].size() ? cells[i][k] : "");
    data += "],\"svg\":" + (drawn.count(rows[i].grid) ? json_string(point_file_name(rows[i].grid)) : "null") + "}";
  }
  data += "]}";
  // The map inline, without its XML declaration.
  std::string_view map = map_svg;
  if (map.rfind("<?xml", 0) == 0) map.remove_prefix(std::min(map.size(), map.find('\n') + 1));

  std::string page = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
                     html_text(name) + ": tilvex report</title>\n<style>\n" + kStyle + "</style>\n</head>\n<body>\n";
  page += "<h1>" + html_text(name) + "</h1>\n<p id=\"counts\">";
  page += "<span id=\"points\">points: " + std::to_string(rows.size()) + "</span>";
  page += "<span id=\"ok\">ok: " + std::to_string(ok) + "</span>";
  page += "<span id=\"failed\" class=\"mark\" style=\"background:#fdd\">failed: " + std::to_string(failed) + "</span>";
  page += "<span id=\"warned\" class=\"mark\" style=\"background:#ffc\">with warnings: " + std::to_string(warned) +
          "</span>";
  page += "<span>confidence level: as the run that wrote the table chose it (not recorded in it)</span></p>\n";
  page += "<div id=\"top\">\n<div id=\"map\">\n" + std::string(map) + "</div>\n";
  page += "<div id=\"detail\"><p>Click a point of the map or a row of the table.</p></div>\n</div>\n";
  page += "<table id=\"rows\"></table>\n";
  page += "<script>\nconst DATA = " + data + ";\n" + kScript + "</script>\n</body>\n</html>\n";
  return page;
}

}  // namespace tilvex::plot
