#include "ui/desktop_runner.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace rw::ui {
namespace {

TEST(DesktopRunner, DisplayNeedsAnX11OrWaylandDisplayOrAChosenPlatform) {
  const struct {
    std::map<std::string, std::string> environment;
    bool available;
  } rows[] = {
      {{}, false},
      {{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}, false},
      {{{"DISPLAY", ":0"}}, true},
      {{{"WAYLAND_DISPLAY", "wayland-0"}}, true},
      {{{"QT_QPA_PLATFORM", "offscreen"}}, true},
      {{{"HOME", "/root"}}, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.environment.size());
    const auto lookup = [&row](const char* name) -> const char* {
      const auto it = row.environment.find(name);
      return it == row.environment.end() ? nullptr : it->second.c_str();
    };
    EXPECT_EQ(DesktopRunner::DisplayAvailable(lookup), row.available);
  }
}

}  // namespace
}  // namespace rw::ui
