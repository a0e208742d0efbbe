// How capture reaches the user: the application implements this, tests fake it.
// Called on whichever thread hit the condition, never while a store lock is held.
#pragma once

#include <string>

namespace rw::capture {

class CaptureNotifier {
 public:
  virtual ~CaptureNotifier() = default;

  // Memory exhausted in a capture operation ("Error in AddConversation", ...): the application
  // shows the text with OK and Cancel and then closes its main window, ending the program.
  virtual void FatalError(const std::string& text) = 0;

  // A plain message with an OK button, e.g. "Could not open file: " and a name.
  virtual void ShowMessage(const std::string& text) = 0;

  // After Clear: the pages show the cleared state (statistics refreshed, texts and lists empty).
  virtual void ShowClearedState() = 0;

  // The store has grown to twice its memory limit since its last upkeep (traffic outran the
  // timer): run the upkeep now on the thread that runs it, instead of waiting for the next tick.
  // Asked once per upkeep, from a connection thread.
  virtual void UpkeepDue() = 0;
};

}  // namespace rw::capture
