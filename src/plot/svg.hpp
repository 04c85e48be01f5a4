#pragma once
// The pieces of SVG both figures write: numbers as coordinates, text that
// is safe in XML, and the start of a standalone document. Each returns the
// markup as a new string (it allocates); none reads or writes a file.

#include <cstddef>
#include <string>
#include <vector>

namespace tilvex::plot::svg {

// v with one decimal, as "%.1f" prints it ("12.5", "-0.0", "nan", "inf").
std::string number(double v);

// s as XML text and attribute value: '&', '<', '>' and '"' as entities;
// control characters other than tab left out (XML does not allow them).
std::string escape(const std::string& s);

// The start of a standalone document of width x height px (the
// declaration, the <svg> element with a sans-serif font of 13 px and a
// white background); the caller closes it with "</svg>\n".
std::string document_start(double width, double height);

// A <text> line at (x, y) px holding s (escaped); `extra` goes into the
// element as it stands (" text-anchor=\"middle\"").
std::string text(double x, double y, const std::string& s, const std::string& extra = "");

// The same turned a quarter to read upwards, about (x, y): an axis title
// beside a vertical axis.
std::string upward_text(double x, double y, const std::string& s, const std::string& extra = "");

// The characters (code points) of UTF-8 text.
std::size_t characters(const std::string& s);

// About how wide text is drawn in a sans-serif font of `size` px: 0.6 em a
// character, more than the average of digits and lower case.
double text_width(const std::string& s, double size = 13);

// A title of more than `longest` characters as its first and last
// (longest - 3) / 2 around "...", cut between characters.
std::string shortened(const std::string& s, std::size_t longest = 100);

// Text cut at blanks into lines of at most `longest` characters (a word
// longer than that is a line of its own).
std::vector<std::string> wrapped(const std::string& s, std::size_t longest);

}  // namespace tilvex::plot::svg
