// The share sheet: what is being shared, the targets that can take it, and
// the sheet itself, installed at start-up when the shell runs a toolkit and
// shown by the Share module on the UI thread.
//
// The sheet lists "Email", "Open with…", "Copy" and "Save as…", as far as
// the payload and the desktop allow; choosing one hands the payload to it
// and ends the sheet as Chosen, closing it ends it as Dismissed.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace VirelantDesktop::platform {

struct SharePayload {
  std::string title;               // the subject of an email
  std::string text;                // may be empty
  std::optional<std::string> url;  // an https link
  std::optional<std::string> filePath;
  // The file, open for reading since it was checked: what is handed on
  // where a target takes a file rather than a name.
  std::shared_ptr<const UniqueFd> file;
};

enum class ShareTarget { Email, OpenWith, Copy, SaveAs };

// The desktop's means, looked up when a sheet opens.
struct ShareMeans {
  bool email = false;  // the Email portal or xdg-email
};

// The targets for `payload`, in the sheet's order: "Email" when the desktop
// can write one, "Open with…" for a file or a link, "Copy" always, "Save as…"
// for a file.
std::vector<ShareTarget> ShareTargetsFor(const SharePayload& payload, const ShareMeans& means);
const char* ShareTargetLabel(ShareTarget target) noexcept;

// The text and the link as one text, the link on a line of its own: an
// email's body and what "Copy" puts on the clipboard as text.
std::string ShareText(const SharePayload& payload);
// One line saying what is shared: the file's name, else the text's first
// line, else the link.
std::string ShareSummary(const SharePayload& payload);

// The clipboard forms of a copied file, given its file:// URI.
std::string UriListOf(const std::string& fileUri);
std::string GnomeCopiedFilesOf(const std::string& fileUri);

// The command line of xdg-email: subject, body and attachment, no recipient.
std::vector<std::string> XdgEmailArguments(const SharePayload& payload);

// How a shown sheet ended; reported once, on the UI thread.
enum class ShareSheetEnd { Chosen, Dismissed };
using ShareSheetDone = std::function<void(ShareSheetEnd end)>;

// A shown sheet. Close() takes it away without reporting an end; it may be
// called again, and after the sheet ended (UI thread only).
class ShareSheetHandle {
 public:
  virtual ~ShareSheetHandle() = default;
  virtual void Close() = 0;
};

// Shows a sheet for `payload` over the main window; null (and `done` never
// called) when it cannot be shown: no main window, or one hidden in the tray.
using ShareSheetService = std::function<std::shared_ptr<ShareSheetHandle>(const SharePayload& payload,
                                                                          ShareSheetDone done)>;

void InstallShareSheet(ShareSheetService service);
// Shows the installed sheet; null when none is installed or it cannot show.
std::shared_ptr<ShareSheetHandle> ShowShareSheet(const SharePayload& payload, ShareSheetDone done);

// The GTK sheet, owned by and centred over `ownerWindow` (a GtkWindow*; no
// sheet without one); only the shell links it.
ShareSheetService MakeGtkShareSheet(void* ownerWindow);

}  // namespace VirelantDesktop::platform
