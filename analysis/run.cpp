#include "run.hpp"

#include <limits>
#include <vector>

#include "numeric/exact_float.hpp"
#include "reader.hpp"
#include "threshold.hpp"

namespace tilvex {

Analysis analyse(std::string_view text, float confidence_level, AcceptedSink& sink) {
  (void)sink;
  Analysis a;
  ResampleReader reader(text);
  const Solution& best = reader.best().solution;

  const Similarity similarity(reader.best().tensor);

  std::vector<float> table;
  while (reader.next_tensor()) table.push_back(similarity(reader.resample().tensor));
  a.count = table.size();
  a.threshold = a.count > 0 ? confidence_threshold(table, confidence_level)
                            : std::numeric_limits<float>::quiet_NaN();

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
