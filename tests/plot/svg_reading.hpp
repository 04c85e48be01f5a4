#pragma once
// Reading back what a figure drew: counts of markup, the numbers of an
// attribute of the elements of a class, the labels of a class. The tests of
// the map and of tilvex-plot's runs share them.

#include <cctype>
#include <cstddef>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace tilvex::test {

inline std::size_t occurrences(const std::string& s, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

// The numbers of each `<tag ... class="name" ... attr="...">` in order: the
// value of `attr`, split at blanks and letters into numbers.
inline std::vector<std::vector<double>> numbers_of(const std::string& svg, const std::string& cls,
                                                   const std::string& attr) {
  std::vector<std::vector<double>> out;
  for (std::size_t at = svg.find("class=\"" + cls + "\""); at != std::string::npos;
       at = svg.find("class=\"" + cls + "\"", at + 1)) {
    const std::size_t open = svg.rfind('<', at), close = svg.find('>', at);
    const std::string element = svg.substr(open, close - open);
    const std::size_t v = element.find(" " + attr + "=\"") + attr.size() + 3;
    std::string value = element.substr(v, element.find('"', v) - v);
    for (char& c : value)
      if (std::isalpha(static_cast<unsigned char>(c))) c = ' ';
    std::istringstream in(value);
    std::vector<double> numbers;
    for (double d; in >> d;) numbers.push_back(d);
    out.push_back(numbers);
  }
  return out;
}

// The labels drawn with class `cls`: text -> its anchor's (x, y).
inline std::map<std::string, std::pair<double, double>> labels_of(const std::string& svg, const std::string& cls) {
  std::map<std::string, std::pair<double, double>> out;
  for (std::size_t at = svg.find("class=\"" + cls + "\""); at != std::string::npos;
       at = svg.find("class=\"" + cls + "\"", at + 1)) {
    const std::size_t open = svg.rfind('<', at), close = svg.find('>', at);
    const std::string label = svg.substr(close + 1, svg.find('<', close) - close - 1);
    const auto x = numbers_of(svg.substr(open, close - open + 1), cls, "x");
    const auto y = numbers_of(svg.substr(open, close - open + 1), cls, "y");
    out[label] = {x.at(0).at(0), y.at(0).at(0)};
  }
  return out;
}

}  // namespace tilvex::test

namespace tilvex::test {

// The value of `attr` of each element of class `cls`, in order ("" where
// the element has none).
inline std::vector<std::string> attributes_of(const std::string& svg, const std::string& cls,
                                              const std::string& attr) {
  std::vector<std::string> out;
  for (std::size_t at = svg.find("class=\"" + cls + "\""); at != std::string::npos;
       at = svg.find("class=\"" + cls + "\"", at + 1)) {
    const std::size_t open = svg.rfind('<', at), close = svg.find('>', at);
    const std::string element = svg.substr(open, close - open);
    const std::size_t v = element.find(" " + attr + "=\"");
    out.push_back(v == std::string::npos ? "" : element.substr(v + attr.size() + 3,
                                                               element.find('"', v + attr.size() + 3) - v - attr.size() - 3));
  }
  return out;
}

// The texts of a class: their words, in order.
inline std::vector<std::string> texts_of(const std::string& svg, const std::string& cls) {
  std::vector<std::string> out;
  for (std::size_t at = svg.find("class=\"" + cls + "\""); at != std::string::npos;
       at = svg.find("class=\"" + cls + "\"", at + 1)) {
    const std::size_t close = svg.find('>', at);
    out.push_back(svg.substr(close + 1, svg.find('<', close) - close - 1));
  }
  return out;
}

// A <text> element: its anchor, size, whether turned to read upwards, and
// its words.
struct TextElement {
  double x = 0, y = 0, size = 13;
  std::string anchor = "start", words, cls;
  bool upward = false;
};

inline std::vector<TextElement> text_elements(const std::string& svg) {
  std::vector<TextElement> out;
  const auto attribute = [](const std::string& element, const std::string& attr) {
    const std::size_t v = element.find(" " + attr + "=\"");
    if (v == std::string::npos) return std::string();
    return element.substr(v + attr.size() + 3, element.find('"', v + attr.size() + 3) - v - attr.size() - 3);
  };
  for (std::size_t at = svg.find("<text "); at != std::string::npos; at = svg.find("<text ", at + 1)) {
    const std::size_t close = svg.find('>', at);
    const std::string element = svg.substr(at, close - at);
    TextElement t;
    t.x = std::stod(attribute(element, "x"));
    t.y = std::stod(attribute(element, "y"));
    if (const std::string s = attribute(element, "font-size"); !s.empty()) t.size = std::stod(s);
    if (const std::string a = attribute(element, "text-anchor"); !a.empty()) t.anchor = a;
    t.cls = attribute(element, "class");
    t.upward = attribute(element, "transform").rfind("rotate(-90", 0) == 0;
    t.words = svg.substr(close + 1, svg.find('<', close) - close - 1);
    out.push_back(t);
  }
  return out;
}

// The box a text is drawn in, about: 0.6 em a character wide, from 0.8 em
// above its baseline to 0.25 em below; turned for an upward text.
struct Box {
  double x0, y0, x1, y1;
};
inline Box box_of(const TextElement& t) {
  std::size_t chars = 0;
  for (char ch : t.words) chars += (static_cast<unsigned char>(ch) & 0xc0) != 0x80;
  const double w = 0.6 * t.size * static_cast<double>(chars);
  const double shift = t.anchor == "middle" ? w / 2 : t.anchor == "end" ? w : 0;
  if (t.upward) return {t.x - 0.8 * t.size, t.y - w + shift, t.x + 0.25 * t.size, t.y + shift};
  return {t.x - shift, t.y - 0.8 * t.size, t.x - shift + w, t.y + 0.25 * t.size};
}

// The width and height of the document.
inline std::pair<double, double> canvas_of(const std::string& svg) {
  const std::size_t at = svg.find("<svg ");
  const std::string element = svg.substr(at, svg.find('>', at) - at);
  const auto number = [&](const std::string& attr) {
    const std::size_t v = element.find(" " + attr + "=\"") + attr.size() + 3;
    return std::stod(element.substr(v, element.find('"', v) - v));
  };
  return {number("width"), number("height")};
}

}  // namespace tilvex::test
