// The clipboard read with GTK 3 for attachments. GTK serves one clipboard
// request at a time, so reads queue up and run one after another on the UI
// thread. Each caller gets its answer within the time-out, whether or not
// the clipboard's owner ever answers; a request left hanging keeps the
// queue waiting until GTK gives it up, so no two requests ever overlap.
#include <gtk/gtk.h>

#include <deque>
#include <memory>
#include <string>

#include "platform/clipboard_reader.h"

namespace VirelantDesktop::platform {
namespace {

struct Read {
  ClipboardDone done;
  bool offerOnly = false;
  bool answered = false;
  guint timer = 0;
};
using ReadPtr = std::shared_ptr<Read>;

void Answer(const ReadPtr& read, ClipboardSnapshot snapshot) {
  if (read->answered) return;
  read->answered = true;
  if (read->timer != 0) g_source_remove(read->timer);
  read->timer = 0;
  if (read->done) read->done(std::move(snapshot));
  read->done = nullptr;
}

// UI thread only.
class ClipboardQueue : public std::enable_shared_from_this<ClipboardQueue> {
 public:
  explicit ClipboardQueue(int timeoutMs) : timeoutMs_(timeoutMs) {}

  void Add(bool offerOnly, ClipboardDone done) {
    auto read = std::make_shared<Read>();
    read->done = std::move(done);
    read->offerOnly = offerOnly;
    read->timer = g_timeout_add(static_cast<guint>(timeoutMs_), &ClipboardQueue::OnTimeout, new ReadPtr(read));
    pending_.push_back(read);
    if (!busy_) Next();
  }

 private:
  static gboolean OnTimeout(gpointer data) {
    std::unique_ptr<ReadPtr> read(static_cast<ReadPtr*>(data));
    (*read)->timer = 0;  // this source ends now
    ClipboardSnapshot none;
    none.available = false;
    Answer(*read, std::move(none));
    return G_SOURCE_REMOVE;
  }

  void Next() {
    busy_ = false;
    while (!pending_.empty() && pending_.front()->answered) pending_.pop_front();  // timed out while queued
    if (pending_.empty()) return;
    busy_ = true;
    self_ = shared_from_this();  // GTK holds a plain pointer until it answers
    current_ = pending_.front();
    pending_.pop_front();
    GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    gtk_clipboard_request_targets(clipboard, &ClipboardQueue::OnTargets, this);
  }

  static void OnTargets(GtkClipboard* clipboard, GdkAtom* atoms, gint count, gpointer data) {
    auto* self = static_cast<ClipboardQueue*>(data);
    ClipboardSnapshot snapshot;
    if (atoms == nullptr || count <= 0) {
      self->Finish(std::move(snapshot));
      return;
    }
    // Files first, then an image: PNG preferred.
    static const char* const kWanted[] = {"text/uri-list", "x-special/gnome-copied-files", "image/png", "image/bmp"};
    auto offered = [&](const char* name) {
      const GdkAtom wanted = gdk_atom_intern_static_string(name);
      for (gint i = 0; i < count; ++i) {
        if (atoms[i] == wanted) return true;
      }
      return false;
    };
    snapshot.text = gtk_targets_include_text(atoms, count);
    snapshot.offersFiles = offered(kWanted[0]) || offered(kWanted[1]);
    snapshot.offersImage = offered(kWanted[2]) || offered(kWanted[3]) || gtk_targets_include_image(atoms, count, FALSE);
    if (snapshot.text || (self->current_ && self->current_->offerOnly)) {
      self->Finish(std::move(snapshot));
      return;
    }
    for (const char* name : kWanted) {
      const GdkAtom wanted = gdk_atom_intern_static_string(name);
      for (gint i = 0; i < count; ++i) {
        if (atoms[i] != wanted) continue;
        self->target_ = name;
        gtk_clipboard_request_contents(clipboard, wanted, &ClipboardQueue::OnContents, self);
        return;
      }
    }
    self->Finish(std::move(snapshot));
  }

  static void OnContents(GtkClipboard*, GtkSelectionData* selection, gpointer data) {
    auto* self = static_cast<ClipboardQueue*>(data);
    ClipboardSnapshot snapshot;
    snapshot.offersFiles = self->target_ == "text/uri-list" || self->target_ == "x-special/gnome-copied-files";
    snapshot.offersImage = !snapshot.offersFiles;
    const gint length = selection != nullptr ? gtk_selection_data_get_length(selection) : -1;
    const guchar* bytes = selection != nullptr ? gtk_selection_data_get_data(selection) : nullptr;
    if (length > 0 && bytes != nullptr) {
      const std::string_view view(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
      if (self->target_ == "text/uri-list") {
        snapshot.uriList.assign(view);
      } else if (self->target_ == "x-special/gnome-copied-files") {
        snapshot.uriList.assign(view);
        snapshot.copiedFiles = true;
      } else if (static_cast<uint64_t>(length) > kMaxClipboardImageBytes) {
        snapshot.imageTooLarge = true;
      } else if (self->target_ == "image/png") {
        snapshot.png.assign(view);
      } else if (view.size() >= 2 && view.substr(0, 2) == "BM") {
        snapshot.bmp.assign(view);
      } else {
        snapshot.dib.assign(view);  // a bitmap without its file header, as some programs offer it
      }
    }
    self->Finish(std::move(snapshot));
  }

  void Finish(ClipboardSnapshot snapshot) {
    std::shared_ptr<ClipboardQueue> keep = std::move(self_);
    ReadPtr read = std::move(current_);
    if (read) Answer(read, std::move(snapshot));
    Next();
  }

  const int timeoutMs_;
  std::deque<ReadPtr> pending_;
  ReadPtr current_;
  std::string target_;
  bool busy_ = false;
  std::shared_ptr<ClipboardQueue> self_;  // while a request is out
};

}  // namespace

ClipboardReader MakeGtkClipboardReader(int timeoutMs) {
  // One queue for the process, on the UI thread (the default main context).
  auto queue = std::make_shared<ClipboardQueue>(timeoutMs > 0 ? timeoutMs : 2000);
  struct Job {
    std::shared_ptr<ClipboardQueue> queue;
    bool offerOnly;
    ClipboardDone done;
  };
  return [queue](bool offerOnly, ClipboardDone done) {
    g_main_context_invoke_full(
        nullptr, G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
          auto* job = static_cast<Job*>(data);
          job->queue->Add(job->offerOnly, std::move(job->done));
          return G_SOURCE_REMOVE;
        },
        new Job{queue, offerOnly, std::move(done)}, [](gpointer data) { delete static_cast<Job*>(data); });
  };
}

}  // namespace VirelantDesktop::platform
