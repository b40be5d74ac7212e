// The GTK 3 help window for Linux desktops: the Win32 window's layout, texts
// and address link, placed at its 96-DPI pixel rectangles, with GTK loaded
// only when the window is shown.
#include <dlfcn.h>
#include <gtk/gtk.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "config/product.h"
#include "ui/help_layout.h"
#include "ui/help_text.h"
#include "ui/help_window.h"

namespace pinemail {
namespace {

// GTK works in logical pixels and scales them itself on dense screens, so the
// layout is computed once at the reference DPI.
constexpr int kLayoutDpi = 96;

// The design's face first (where fontconfig knows it or an alias of it), then
// proportional Japanese faces common on Linux.
constexpr std::string_view kFontFamilies =
    "\"ＭＳ Ｐゴシック\", \"IPAPGothic\", \"Noto Sans CJK JP\", \"Noto Sans JP\", sans-serif";

// Every GTK, GDK, GLib and Pango function this window calls. They are looked
// up at run time, so that a batch run, which never opens the window, does not
// load GTK and its many libraries at all.
#define PINEMAIL_GTK_FUNCTIONS                 \
  X(g_clear_error)                             \
  X(g_object_unref)                            \
  X(g_signal_connect_data)                     \
  X(gdk_cursor_new_from_name)                  \
  X(gdk_screen_get_default)                    \
  X(gdk_window_get_display)                    \
  X(gdk_window_set_cursor)                     \
  X(gtk_bin_get_child)                         \
  X(gtk_container_add)                         \
  X(gtk_css_provider_load_from_data)           \
  X(gtk_css_provider_new)                      \
  X(gtk_event_box_new)                         \
  X(gtk_event_box_set_visible_window)          \
  X(gtk_fixed_move)                            \
  X(gtk_fixed_new)                             \
  X(gtk_fixed_put)                             \
  X(gtk_init_check)                            \
  X(gtk_label_new)                             \
  X(gtk_label_set_attributes)                  \
  X(gtk_label_set_xalign)                      \
  X(gtk_label_set_yalign)                      \
  X(gtk_main)                                  \
  X(gtk_main_quit)                             \
  X(gtk_scrolled_window_new)                   \
  X(gtk_scrolled_window_set_overlay_scrolling) \
  X(gtk_scrolled_window_set_policy)            \
  X(gtk_scrolled_window_set_shadow_type)       \
  X(gtk_show_uri_on_window)                    \
  X(gtk_style_context_add_provider_for_screen) \
  X(gtk_text_buffer_get_start_iter)            \
  X(gtk_text_buffer_place_cursor)              \
  X(gtk_text_buffer_set_text)                  \
  X(gtk_text_view_get_buffer)                  \
  X(gtk_text_view_new)                         \
  X(gtk_text_view_set_editable)                \
  X(gtk_text_view_set_left_margin)             \
  X(gtk_text_view_set_wrap_mode)               \
  X(gtk_widget_add_events)                     \
  X(gtk_widget_get_preferred_size)             \
  X(gtk_widget_get_toplevel)                   \
  X(gtk_widget_get_window)                     \
  X(gtk_widget_grab_focus)                     \
  X(gtk_widget_set_name)                       \
  X(gtk_widget_set_size_request)               \
  X(gtk_widget_show_all)                       \
  X(gtk_window_new)                            \
  X(gtk_window_set_position)                   \
  X(gtk_window_set_resizable)                  \
  X(gtk_window_set_title)                      \
  X(pango_attr_list_insert)                    \
  X(pango_attr_list_new)                       \
  X(pango_attr_list_unref)                     \
  X(pango_attr_underline_new)

struct GtkApi {
#define X(name) decltype(&::name) name = nullptr;
  PINEMAIL_GTK_FUNCTIONS
#undef X
};

GtkApi api;

// Reads a symbol's address into a function pointer of the header's type,
// copying the bytes because dlsym hands back an object pointer.
template <typename Function>
bool Resolve(void* library, const char* name, Function& function) {
  void* address = dlsym(library, name);
  if (!address) return false;
  static_assert(sizeof(address) == sizeof(function));
  std::memcpy(&function, &address, sizeof(function));
  return true;
}

// Loads GTK 3 and fills `api`; false when the library or one of the functions
// is missing. The library stays loaded: GTK cannot be unloaded safely.
bool LoadGtk() {
  void* library = dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!library) return false;
  // dlsym on GTK's handle also finds the functions of the libraries GTK
  // itself loaded (GDK, GLib, GObject, Pango).
  GtkApi loaded;
#define X(name) \
  if (!Resolve(library, #name, loaded.name)) return false;
  PINEMAIL_GTK_FUNCTIONS
#undef X
  api = loaded;
  return true;
}

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

std::string CssRgb(const Rgb& rgb) {
  return "rgb(" + std::to_string(rgb.red) + "," + std::to_string(rgb.green) + "," +
         std::to_string(rgb.blue) + ")";
}

// One rule per control, selected by its name; the system colours are left to
// the theme, which is GTK's counterpart of them.
std::string ControlCss(const HelpControlDesign& design) {
  std::string css = "#";
  css.append(design.name).append(" { font-family: ").append(kFontFamilies);
  css.append("; font-size: ").append(std::to_string(FontPixelHeight(design.font, kLayoutDpi)));
  css.append("px; font-weight: ").append(design.font.bold ? "bold" : "normal").append(";");
  if (design.text.source == ColourSource::kFixed) css += " color: " + CssRgb(design.text.rgb) + ";";
  if (design.back.source == ColourSource::kFixed) {
    css += " background-color: " + CssRgb(design.back.rgb) + ";";
  }
  return css + " }\n";
}

std::string WindowCss() {
  std::string css = "#";
  css.append(kHelpWindowClass).append(" { background-color: ").append(CssRgb(kHelpBackColour));
  css.append("; }\n");
  // The address's event box paints the window's colour under its label.
  css += "#URLBox { background-color: " + CssRgb(kHelpBackColour) + "; }\n";
  for (const HelpControlDesign& design : HelpControlDesigns()) css += ControlCss(design);
  return css;
}

void InstallCss() {
  GtkCssProvider* provider = api.gtk_css_provider_new();
  const std::string css = WindowCss();
  api.gtk_css_provider_load_from_data(provider, css.c_str(), static_cast<gssize>(css.size()),
                                      nullptr);
  api.gtk_style_context_add_provider_for_screen(api.gdk_screen_get_default(),
                                                reinterpret_cast<GtkStyleProvider*>(provider),
                                                GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  api.g_object_unref(provider);
}

GtkWidget* MakeLabel(const HelpControlDesign& design) {
  const std::string caption(design.caption);
  GtkWidget* label = api.gtk_label_new(caption.c_str());
  api.gtk_widget_set_name(label, std::string(design.name).c_str());
  const float xalign = design.align == TextAlign::kLeft     ? 0.0f
                       : design.align == TextAlign::kCenter ? 0.5f
                                                            : 1.0f;
  api.gtk_label_set_xalign(reinterpret_cast<GtkLabel*>(label), xalign);
  api.gtk_label_set_yalign(reinterpret_cast<GtkLabel*>(label), 0.0f);
  if (design.font.underline) {
    PangoAttrList* attributes = api.pango_attr_list_new();
    api.pango_attr_list_insert(attributes, api.pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    api.gtk_label_set_attributes(reinterpret_cast<GtkLabel*>(label), attributes);
    api.pango_attr_list_unref(attributes);
  }
  return label;
}

GtkWidget* MakeBody() {
  GtkWidget* view = api.gtk_text_view_new();
  api.gtk_widget_set_name(view, std::string(DesignOf(HelpControl::kBody).name).c_str());
  api.gtk_text_view_set_editable(reinterpret_cast<GtkTextView*>(view), FALSE);
  api.gtk_text_view_set_wrap_mode(reinterpret_cast<GtkTextView*>(view), GTK_WRAP_WORD_CHAR);
  api.gtk_text_view_set_left_margin(reinterpret_cast<GtkTextView*>(view), 2);
  GtkTextBuffer* buffer = api.gtk_text_view_get_buffer(reinterpret_cast<GtkTextView*>(view));
  // LF line ends, as GtkTextBuffer keeps them.
  const std::string text = HelpTextWithLfLines();
  api.gtk_text_buffer_set_text(buffer, text.c_str(), static_cast<int>(text.size()));
  // Opens at the first line, nothing selected.
  GtkTextIter start;
  api.gtk_text_buffer_get_start_iter(buffer, &start);
  api.gtk_text_buffer_place_cursor(buffer, &start);

  GtkWidget* scroller = api.gtk_scrolled_window_new(nullptr, nullptr);
  api.gtk_scrolled_window_set_policy(reinterpret_cast<GtkScrolledWindow*>(scroller),
                                     GTK_POLICY_NEVER, GTK_POLICY_ALWAYS);
  api.gtk_scrolled_window_set_overlay_scrolling(reinterpret_cast<GtkScrolledWindow*>(scroller),
                                                FALSE);
  api.gtk_scrolled_window_set_shadow_type(reinterpret_cast<GtkScrolledWindow*>(scroller),
                                          GTK_SHADOW_IN);
  api.gtk_container_add(reinterpret_cast<GtkContainer*>(scroller), view);
  return scroller;
}

gboolean OnAddressReleased(GtkWidget* widget, GdkEventButton* event, gpointer) {
  if (event->button != GDK_BUTTON_PRIMARY) return FALSE;
  const std::string address(kSiteAddress);
  GError* error = nullptr;
  // A failure (no browser) is deliberately not reported: the click just has
  // no visible effect.
  api.gtk_show_uri_on_window(reinterpret_cast<GtkWindow*>(api.gtk_widget_get_toplevel(widget)),
                             address.c_str(), event->time, &error);
  api.g_clear_error(&error);
  return TRUE;
}

void OnAddressRealized(GtkWidget* widget, gpointer) {
  GdkWindow* window = api.gtk_widget_get_window(widget);
  GdkCursor* hand = api.gdk_cursor_new_from_name(api.gdk_window_get_display(window), "pointer");
  if (hand) {
    api.gdk_window_set_cursor(window, hand);
    api.g_object_unref(hand);
  }
}

// The address label inside an event box of its own, which takes the clicks
// and carries the hand cursor.
GtkWidget* MakeAddress(GtkWidget* label) {
  GtkWidget* box = api.gtk_event_box_new();
  api.gtk_widget_set_name(box, "URLBox");
  api.gtk_event_box_set_visible_window(reinterpret_cast<GtkEventBox*>(box), TRUE);
  api.gtk_widget_add_events(box, GDK_BUTTON_RELEASE_MASK);
  api.gtk_container_add(reinterpret_cast<GtkContainer*>(box), label);
  api.g_signal_connect_data(box, "button-release-event", G_CALLBACK(OnAddressReleased), nullptr,
                            nullptr, GConnectFlags{});
  api.g_signal_connect_data(box, "realize", G_CALLBACK(OnAddressRealized), nullptr, nullptr,
                            GConnectFlags{});
  return box;
}

struct Controls {
  std::array<GtkWidget*, kHelpControlCount> placed{};  // what sits in the GtkFixed
  std::array<GtkWidget*, kHelpControlCount> labels{};  // the labels, for measuring
};

// Puts every control into `fixed`, measures the labels once their styles
// apply, and moves each control to its rectangle.
void PlaceControls(GtkWidget* fixed, Controls& controls) {
  for (const HelpControlDesign& design : HelpControlDesigns()) {
    GtkWidget* widget = nullptr;
    if (design.id == HelpControl::kBody) {
      widget = MakeBody();
    } else {
      GtkWidget* label = MakeLabel(design);
      controls.labels[Index(design.id)] = label;
      widget = design.id == HelpControl::kUrl ? MakeAddress(label) : label;
    }
    api.gtk_widget_show_all(widget);  // hidden widgets measure as nothing
    controls.placed[Index(design.id)] = widget;
    api.gtk_fixed_put(reinterpret_cast<GtkFixed*>(fixed), widget, 0, 0);
  }

  CaptionSizes captions{};
  for (const HelpControlDesign& design : HelpControlDesigns()) {
    GtkWidget* label = controls.labels[Index(design.id)];
    if (!label) continue;
    GtkRequisition natural{};
    api.gtk_widget_get_preferred_size(label, nullptr, &natural);
    captions[Index(design.id)] = {natural.width, natural.height};
  }
  const auto rects = ComputeHelpLayout(captions, kLayoutDpi);
  for (const HelpControlDesign& design : HelpControlDesigns()) {
    const Rect& rect = rects[Index(design.id)];
    GtkWidget* widget = controls.placed[Index(design.id)];
    api.gtk_fixed_move(reinterpret_cast<GtkFixed*>(fixed), widget, rect.left, rect.top);
    api.gtk_widget_set_size_request(widget, rect.width, rect.height);
  }
}

}  // namespace

bool ShowHelpWindow() {
  if (!HasDisplay() || !LoadGtk() || !api.gtk_init_check(nullptr, nullptr)) return false;
  InstallCss();

  GtkWidget* window = api.gtk_window_new(GTK_WINDOW_TOPLEVEL);
  api.gtk_widget_set_name(window, std::string(kHelpWindowClass).c_str());
  api.gtk_window_set_title(reinterpret_cast<GtkWindow*>(window), HelpWindowCaption().c_str());
  api.gtk_window_set_resizable(reinterpret_cast<GtkWindow*>(window), FALSE);
  api.gtk_window_set_position(reinterpret_cast<GtkWindow*>(window), GTK_WIN_POS_CENTER);
  api.g_signal_connect_data(window, "destroy", reinterpret_cast<GCallback>(api.gtk_main_quit),
                            nullptr, nullptr, GConnectFlags{});

  GtkWidget* fixed = api.gtk_fixed_new();
  const Size client = HelpClientPixels(kLayoutDpi);
  api.gtk_widget_set_size_request(fixed, client.width, client.height);
  api.gtk_container_add(reinterpret_cast<GtkContainer*>(window), fixed);

  Controls controls;
  PlaceControls(fixed, controls);
  api.gtk_widget_show_all(window);
  // The text box takes the keys, so that they scroll the help text.
  api.gtk_widget_grab_focus(
      api.gtk_bin_get_child(reinterpret_cast<GtkBin*>(controls.placed[Index(HelpControl::kBody)])));
  api.gtk_main();
  return true;
}

}  // namespace pinemail
