#include "svg.hpp"

#include <cstdio>

namespace tilvex::plot::svg {

std::string number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

std::string escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        // Control characters are not allowed in XML text.
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
    }
  }
  return out;
}

std::string document_start(double width, double height) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(width) + "\" height=\"" +
         number(height) + "\" viewBox=\"0 0 " + number(width) + " " + number(height) +
         "\" font-family=\"sans-serif\" font-size=\"13\">\n"
         "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
}

std::string text(double x, double y, const std::string& s, const std::string& extra) {
  return "<text x=\"" + number(x) + "\" y=\"" + number(y) + "\"" + extra + ">" + escape(s) + "</text>\n";
}

std::string upward_text(double x, double y, const std::string& s, const std::string& extra) {
  return text(x, y, s, extra + " transform=\"rotate(-90 " + number(x) + " " + number(y) + ")\"");
}

}  // namespace tilvex::plot::svg
