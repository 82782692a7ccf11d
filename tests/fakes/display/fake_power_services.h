#pragma once

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <map>
#include <string>
#include <vector>

#include "display/power_services.h"
#include "display/saved_brightness.h"

namespace vistaro::testing {

// The power mechanisms and the saved record as one journal of calls, in the order they came:
// "tap", "get 1", "saved {1: 0.7}", "set 1 0", "watchdog", "curtains", "uncover", "untap", ...
class FakePowerServices {
 public:
  std::vector<std::string> calls;
  std::map<DisplayID, float> levels{{1, 0.7f}, {2, 1.0f}};  // displays without a level cannot be dimmed
  std::vector<DisplayID> online{1, 2, 3};
  bool tapAllowed = true;
  bool covering = true;          // what coverScreens answers
  std::function<void()> touch;   // the tap's callback while installed
  std::optional<std::map<uint32_t, float>> saved;
  PowerServices services;

  FakePowerServices() {
    services = {std::make_unique<Curtains>(*this), std::make_unique<Brightness>(*this), std::make_unique<Tap>(*this),
                std::make_unique<Watchdog>(*this), std::make_unique<Sleep>(*this)};
  }
  SavedBrightness& savedBrightness() { return record_; }
  std::string take() { return fmt::format("{}", fmt::join(std::exchange(calls, {}), ", ")); }

 private:
  struct Part {
    explicit Part(FakePowerServices& fake) : f(fake) {}
    void log(std::string call) { f.calls.push_back(std::move(call)); }
    FakePowerServices& f;
  };
  struct Brightness final : DisplayBrightness, Part {
    using Part::Part;
    std::vector<DisplayID> onlineDisplays() override { return f.online; }
    std::optional<float> brightness(DisplayID d) override {
      log(fmt::format("get {}", d));
      return f.levels.contains(d) ? std::optional(f.levels[d]) : std::nullopt;
    }
    void setBrightness(DisplayID d, float level) override { log(fmt::format("set {} {}", d, f.levels[d] = level)); }
  };
  struct Curtains final : ScreenCurtains, Part {
    using Part::Part;
    void show() override { log("curtains"); }
    void hide() override { log("uncover"); }
    bool coverScreens() override { return f.covering; }
    void clearLeftovers() override { log("clear leftovers"); }
  };
  struct Tap final : PhysicalInputTap, Part {
    using Part::Part;
    bool install(std::function<void()> touched) override {
      log(f.tapAllowed ? "tap" : "tap refused");
      if (f.tapAllowed) f.touch = std::move(touched);
      return f.tapAllowed;
    }
    void remove() override { log("untap"), f.touch = nullptr; }
  };
  struct Watchdog final : RelaunchWatchdog, Part {
    using Part::Part;
    void start() override { log("watchdog"); }
    void stop() override { log("no watchdog"); }
  };
  struct Sleep final : SleepInhibitor, Part {
    using Part::Part;
    void inhibit() override { log("inhibit"); }
    void release() override { log("release"); }
    void declareUserActivity() override { log("activity"); }
  };
  struct Record final : SavedBrightness, Part {
    using Part::Part;
    std::optional<std::map<uint32_t, float>> load() override { return f.saved; }
    std::optional<std::string> store(const std::optional<std::map<uint32_t, float>>& levels) override {
      log(levels ? fmt::format("saved {}", *levels) : "unsaved");
      f.saved = levels;
      return std::nullopt;
    }
  };
  Record record_{*this};
};

}  // namespace vistaro::testing
