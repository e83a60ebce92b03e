#pragma once

#include <functional>
#include <string>
#include <vector>

#include "moviletta/control/progress_bar.h"

namespace moviletta {

// A progress bar that keeps what is written to it, for hosts without a screen and for tests;
// `on_change` is told after every write.
class MemoryProgressBar : public ProgressBar {
 public:
  void SetProgressValue(int32_t v) override {
    value = v;
    values.push_back(v);
    if (on_change) on_change();
  }
  void SetProgressText(const std::string& t) override {
    text = t;
    texts.push_back(t);
    if (on_change) on_change();
  }

  int32_t value = 0;
  std::string text;
  std::vector<int32_t> values;
  std::vector<std::string> texts;
  std::function<void()> on_change;
};

}  // namespace moviletta
