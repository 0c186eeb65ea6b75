// The `Attach` module: staging of attachments ("ingest", "readClipboard"),
// and the operations on staged files ("discard", "readBase64"). Every method does its file work
// on a detached worker thread.
//
// The initializer keeps the context through which the drop, hover and paste
// events ("Attach.drop", "Attach.dropHover", "Attach.paste") are sent; any
// thread may send through EventSlot().
#pragma once

#include <string>
#include <vector>

#include "bridge/module_kit.h"
#include "bridge/module_table.h"

namespace VirelantDesktop {

class Attach {
 public:
  static void Describe(ModuleTable<Attach>& table);

  void Initialize(const ReactContext& context) noexcept;

  // paths, maxFiles: one IngestResult object per path taken, in order.
  void ingest(std::vector<std::string> paths, double maxFiles, ReactPromise<JSValue> promise) noexcept;
  // true when a staged item was removed; never rejects.
  void discard(std::string path, ReactPromise<bool> promise) noexcept;
  // The base64 text of a staged file, or null; never rejects.
  void readBase64(std::string path, double maxBytes, ReactPromise<JSValue> promise) noexcept;
  // maxFiles: { "items": [IngestResult objects] } of what the clipboard holds.
  void readClipboard(double maxFiles, ReactPromise<JSValue> promise) noexcept;
  // Drops of files on the main window are taken while enabled.
  void setDropEnabled(bool enabled) noexcept;
  // The chooser over the main window; the chosen files staged ([] when cancelled).
  void pickFiles(std::string kind, bool multiple, double maxFiles, std::string filterLabel,
                 ReactPromise<JSValue> promise) noexcept;

 private:
  ModuleEventSlot context_;
};

namespace attach {

// The process-wide context of the module's events; empty until an `Attach`
// module was initialised (events sent before are dropped).
ModuleEventSlot& EventSlot();

}  // namespace attach
}  // namespace VirelantDesktop
