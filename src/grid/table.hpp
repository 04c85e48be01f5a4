#pragma once
// The table of a grid: one tab-separated row per point, in list order,
// that pairs every summary with its point. Floats are the shortest text
// that reads back to the same float; "nan" stands where there is no value.

#include <string>
#include <string_view>

#include "list.hpp"
#include "tilvex/analyse.hpp"

namespace tilvex::grid {

// The header row, with its newline.
std::string table_header();

// The row of a point that was analysed, status "ok".
std::string table_row(const Point& point, const Analysis& analysis);

// The row of a point that failed: its status is the message tilvex prints,
// and every value is nan.
std::string table_row(const Point& point, std::string_view failure);

}  // namespace tilvex::grid
