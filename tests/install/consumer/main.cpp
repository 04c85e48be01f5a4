// Analyses the worked example from memory and prints both result texts.
#include <cstdio>
#include <tilvex/analyse.hpp>

int main() {
  const char* text =
      "1 0 0 0 0 -1\n0.5 355 10 120 5 240 78\n"
      "1 0.1 0 0 0 -1\n0.45 0 12 125 3 250 80\n"
      "0.9 0 0.2 0.1 0 -1\n0.55 350 7 300 -4 235 75\n"
      "0 1 0 0 0 0\n0.9 45 30 135 0 300 60\n"
      "1 0 0 0 0.05 -0.9\n0.4 175 -12 118 6 60 -79\n";
  const tilvex::Result r = tilvex::analyse(text, 75.0f);
  std::fputs(tilvex::format_summary(r).c_str(), stdout);
  std::fputs(tilvex::format_accepted(r, {3, 7, 0, 1}).c_str(), stdout);
  return 0;
}
