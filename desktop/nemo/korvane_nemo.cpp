// The Korvane extension of Nemo (Nemo 5.6): the library's
// context menu for a selected file or folder and for a folder's background,
// and emblems on shared folders and on files by their sync state. The
// library is loaded in the file manager's process, as Explorer loads the
// DLL; file_manager_menu.h keeps every call to it off the window's thread
// (the menu is waited for at most a short limit). It is the GNOME Files
// extension (desktop/nautilus) on Nemo's own extension interfaces.
#include "file_manager_menu.h"

#include <libnemo-extension/nemo-file-info.h>
#include <libnemo-extension/nemo-info-provider.h>
#include <libnemo-extension/nemo-menu-provider.h>
#include <libnemo-extension/nemo-menu.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace korvane::desktop;

// What an entry of a menu runs, kept by its item.
struct EntryRun {
  std::string path;
  bool background;
  std::string verb;
};

// An emblem on its way to a file.
struct PendingEmblem {
  NemoInfoProvider* provider;
  NemoFileInfo* file;
  GClosure* complete;
  std::shared_ptr<EmblemRequest> request;
  std::string emblem;
};

std::optional<std::string> PathOf(NemoFileInfo* file) {
  char* uri = nemo_file_info_get_uri(file);
  std::optional<std::string> path = LocalPath(uri);
  g_free(uri);
  return path;
}

// After an entry ran: the file manager asks again for what changed.
gboolean InvalidateOnWindowThread(gpointer data) {
  std::unique_ptr<std::vector<std::string>> paths(static_cast<std::vector<std::string>*>(data));
  for (const std::string& path : *paths) {
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    if (uri == nullptr) continue;
    if (NemoFileInfo* file = nemo_file_info_lookup_for_uri(uri)) {
      nemo_file_info_invalidate_extension_info(file);
      g_object_unref(file);
    }
    g_free(uri);
  }
  return G_SOURCE_REMOVE;
}

void OnActivate(NemoMenuItem*, gpointer data) {
  const auto* run = static_cast<const EntryRun*>(data);
  RunEntry(run->path, run->background, run->verb, [](const std::vector<std::string>& paths) {
    g_idle_add(InvalidateOnWindowThread, new std::vector<std::string>(paths));
  });
}

// The "Korvane" item with the library's entries as its submenu.
GList* ProductItems(const std::string& path, bool background) {
  const std::vector<Entry> entries = MenuEntries(path, background);
  if (entries.empty()) return nullptr;
  const std::string prefix = background ? "Korvane::Background::" : "Korvane::Selection::";
  NemoMenuItem* product = nemo_menu_item_new((prefix + "Korvane").c_str(), "Korvane", "Halcyra folder sharing", nullptr);
  NemoMenu* submenu = nemo_menu_new();
  for (const Entry& entry : entries) {
    NemoMenuItem* item =
        nemo_menu_item_new((prefix + entry.verb).c_str(), entry.text.c_str(), entry.help.c_str(), nullptr);
    g_signal_connect_data(item, "activate", G_CALLBACK(OnActivate), new EntryRun{path, background, entry.verb},
                          [](gpointer data, GClosure*) { delete static_cast<EntryRun*>(data); }, GConnectFlags(0));
    nemo_menu_append_item(submenu, item);  // keeps a reference of its own
    g_object_unref(item);
  }
  nemo_menu_item_set_submenu(product, submenu);
  g_object_unref(submenu);
  return g_list_append(nullptr, product);
}

GList* GetFileItems(NemoMenuProvider*, GtkWidget*, GList* files) {
  if (files == nullptr || files->next != nullptr) return nullptr;  // the handler takes one
  const std::optional<std::string> path = PathOf(NEMO_FILE_INFO(files->data));
  return path ? ProductItems(*path, false) : nullptr;
}

GList* GetBackgroundItems(NemoMenuProvider*, GtkWidget*, NemoFileInfo* folder) {
  const std::optional<std::string> path = PathOf(folder);
  return path ? ProductItems(*path, true) : nullptr;
}

gboolean CompleteOnWindowThread(gpointer data) {
  std::unique_ptr<PendingEmblem> pending(static_cast<PendingEmblem*>(data));
  if (!pending->request->cancelled) {
    if (!pending->emblem.empty()) nemo_file_info_add_emblem(pending->file, pending->emblem.c_str());
    nemo_info_provider_update_complete_invoke(pending->complete, pending->provider,
                                                  reinterpret_cast<NemoOperationHandle*>(pending.get()),
                                                  NEMO_OPERATION_COMPLETE);
  }
  g_closure_unref(pending->complete);
  g_object_unref(pending->file);
  g_object_unref(pending->provider);
  return G_SOURCE_REMOVE;
}

NemoOperationResult UpdateFileInfo(NemoInfoProvider* provider, NemoFileInfo* file, GClosure* complete,
                                       NemoOperationHandle** handle) {
  const std::optional<std::string> path = PathOf(file);
  if (!path) return NEMO_OPERATION_COMPLETE;
  if (const std::optional<std::string> emblem = CachedEmblem(*path)) {
    if (!emblem->empty()) nemo_file_info_add_emblem(file, emblem->c_str());
    return NEMO_OPERATION_COMPLETE;
  }
  auto request = std::make_shared<EmblemRequest>();
  request->path = *path;
  auto* pending = new PendingEmblem{NEMO_INFO_PROVIDER(g_object_ref(provider)),
                                    NEMO_FILE_INFO(g_object_ref(file)), g_closure_ref(complete), request, {}};
  request->answer = [pending](const std::string& emblem) {
    pending->emblem = emblem;
    g_idle_add(CompleteOnWindowThread, pending);
  };
  *handle = reinterpret_cast<NemoOperationHandle*>(pending);
  AskEmblem(request);
  return NEMO_OPERATION_IN_PROGRESS;
}

void CancelUpdate(NemoInfoProvider*, NemoOperationHandle* handle) {
  reinterpret_cast<PendingEmblem*>(handle)->request->cancelled = true;
}

}  // namespace

extern "C" {

struct KorvaneNemo {
  GObject parent;
};
struct KorvaneNemoClass {
  GObjectClass parent;
};

static void korvane_nemo_menu_init(NemoMenuProviderInterface* iface) {
  iface->get_file_items = GetFileItems;
  iface->get_background_items = GetBackgroundItems;
}

static void korvane_nemo_info_init(NemoInfoProviderInterface* iface) {
  iface->update_file_info = UpdateFileInfo;
  iface->cancel_update = CancelUpdate;
}

G_DEFINE_DYNAMIC_TYPE_EXTENDED(KorvaneNemo, korvane_nemo, G_TYPE_OBJECT, 0,
                               G_IMPLEMENT_INTERFACE_DYNAMIC(NEMO_TYPE_MENU_PROVIDER, korvane_nemo_menu_init)
                                   G_IMPLEMENT_INTERFACE_DYNAMIC(NEMO_TYPE_INFO_PROVIDER,
                                                                 korvane_nemo_info_init))

static void korvane_nemo_init(KorvaneNemo*) {}
static void korvane_nemo_class_init(KorvaneNemoClass*) {}
static void korvane_nemo_class_finalize(KorvaneNemoClass*) {}

static GType korvane_types[1];

G_MODULE_EXPORT void nemo_module_initialize(GTypeModule* module) {
  korvane_nemo_register_type(module);
  korvane_types[0] = korvane_nemo_get_type();
}

G_MODULE_EXPORT void nemo_module_shutdown(void) {}

G_MODULE_EXPORT void nemo_module_list_types(const GType** types, int* count) {
  *types = korvane_types;
  *count = 1;
}

}  // extern "C"
