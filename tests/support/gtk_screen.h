// What a GTK test in a real window needs: running the main loop until
// something holds, the colour on screen under a widget, and a screenshot
// of the widget's window kept as a test artefact.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace VirelantDesktop::testing {

// Iterates the default main context until `done` holds; false on time-out.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Runs the main loop for `time`.
void PumpFor(std::chrono::milliseconds time);

// The 0xRRGGBB on screen at (x, y) of `widget` (a GtkWidget*);
// 0xdeadbeef when it cannot be read.
uint32_t ScreenPixel(void* widget, int x, int y);

// The window of `widget` as it is on screen, saved as `folder`/`name` (PNG).
void SaveWindowScreenshot(void* widget, const std::string& folder, const std::string& name);

}  // namespace VirelantDesktop::testing
