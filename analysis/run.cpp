#include "run.hpp"

#include "numeric/exact_float.hpp"
#include "reader.hpp"

namespace tilvex {

Analysis analyse(std::string_view text, float confidence_level, AcceptedSink& sink) {
  (void)confidence_level;
  (void)sink;
  Analysis a;
  ResampleReader reader(text);
  const Solution& best = reader.best().solution;

  while (reader.next_tensor()) ++a.count;

  reader.restart();
  for (std::size_t i = 0; i < a.count; ++i) reader.next_record();

  a.summary.phi = {best.phi, 1.0f, 0.0f};
  for (int k = 0; k < 3; ++k) {
    a.summary.trend[k] = {best.axis[k].trend, 0.0f, 0.0f};
    a.summary.plunge[k] = {best.axis[k].plunge, 0.0f, 0.0f};
  }
  return a;
}

}  // namespace tilvex
