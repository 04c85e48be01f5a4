#include "svg.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <cstdio>
#include <vector>

namespace tilvex::plot::svg {

std::string number(double v) {
  // As "%.1f" prints it into 32 bytes. Below 2^52 in size, 10 v is exact
  // in long double (64 bits of significand or more), and its nearest
  // integer, ties to even, is the value printf rounds to: written here
  // with the sign of v (so -0.04 is "-0.0", as printf has it).
  if constexpr (std::numeric_limits<long double>::digits >= 64) {
    if (std::fabs(v) < 0x1p52) {
      const long double tenths = std::nearbyint(static_cast<long double>(v) * 10);
      auto n = static_cast<std::uint64_t>(std::fabs(tenths));
      char buf[24];
      char* p = buf + sizeof buf;
      *--p = static_cast<char>('0' + n % 10);
      *--p = '.';
      n /= 10;
      do *--p = static_cast<char>('0' + n % 10); while ((n /= 10) != 0);
      if (std::signbit(v)) *--p = '-';
      return std::string(p, buf + sizeof buf);
    }
  }
  // Else to_chars, exactly that.
  char buf[400];  // the longest double printed so
  const auto end = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 1).ptr;
  return std::string(buf, std::min<std::size_t>(static_cast<std::size_t>(end - buf), 31));
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

std::size_t characters(const std::string& s) {
  return static_cast<std::size_t>(
      std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xc0) != 0x80; }));
}

double text_width(const std::string& s, double size) { return 0.6 * size * static_cast<double>(characters(s)); }

std::string shortened(const std::string& s, std::size_t longest) {
  const std::size_t kept = (longest - 3) / 2;
  if (characters(s) <= longest) return s;
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < s.size(); ++i)
    if ((static_cast<unsigned char>(s[i]) & 0xc0) != 0x80) starts.push_back(i);
  return s.substr(0, starts[kept]) + "..." + s.substr(starts[starts.size() - kept]);
}

std::vector<std::string> wrapped(const std::string& s, std::size_t longest) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t at = 0; at < s.size();) {
    std::size_t end = s.find(' ', at);
    if (end == std::string::npos) end = s.size();
    const std::string word = s.substr(at, end - at);
    if (!line.empty() && characters(line) + 1 + characters(word) > longest) {
      lines.push_back(line);
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    at = end + 1;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace tilvex::plot::svg
