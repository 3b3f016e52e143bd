// Draws the app's small icons with cairo, as @2x PNG files:
//   make_icons [output directory]      (the kept copies live in src/app/images)
#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

namespace {

struct Icon {
  const char* name;
  int width, height;  // points
  std::function<void(cairo_t*)> draw;
};

void rgb(cairo_t* cr, int hex) {
  cairo_set_source_rgb(cr, ((hex >> 16) & 0xff) / 255.0, ((hex >> 8) & 0xff) / 255.0, (hex & 0xff) / 255.0);
}

void chevronLeft(cairo_t* cr, double w, double h, int hex) {
  rgb(cr, hex);
  cairo_set_line_width(cr, 2.2);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_move_to(cr, w - 2, 2);
  cairo_line_to(cr, 2, h / 2);
  cairo_line_to(cr, w - 2, h - 2);
  cairo_stroke(cr);
}

void disc(cairo_t* cr, double size, int hex, bool plus) {
  double c = size / 2, r = size / 2 - 1;
  rgb(cr, hex);
  cairo_set_line_width(cr, 1.5);
  cairo_arc(cr, c, c, r, 0, 2 * M_PI);
  cairo_stroke(cr);
  cairo_set_line_width(cr, 2);
  cairo_move_to(cr, c - r * 0.5, c);
  cairo_line_to(cr, c + r * 0.5, c);
  if (plus) {
    cairo_move_to(cr, c, c - r * 0.5);
    cairo_line_to(cr, c, c + r * 0.5);
  }
  cairo_stroke(cr);
}

const Icon kIcons[] = {
    {"icon_velmor_arrow", 14, 8,
     [](cairo_t* cr) {
       rgb(cr, 0x999999);
       cairo_set_line_width(cr, 2);
       cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
       cairo_move_to(cr, 1.5, 1.5);
       cairo_line_to(cr, 7, 6.5);
       cairo_line_to(cr, 12.5, 1.5);
       cairo_stroke(cr);
     }},
    {"icon_velmor_add", 20, 20,
     [](cairo_t* cr) {
       rgb(cr, 0xffffff);
       cairo_set_line_width(cr, 2);
       cairo_move_to(cr, 10, 2);
       cairo_line_to(cr, 10, 18);
       cairo_move_to(cr, 2, 10);
       cairo_line_to(cr, 18, 10);
       cairo_stroke(cr);
     }},
    {"icon_velmor_cut", 22, 22, [](cairo_t* cr) { disc(cr, 22, 0xc8c8c8, false); }},
    {"icon_velmor_plus", 22, 22, [](cairo_t* cr) { disc(cr, 22, 0x2e83ee, true); }},
    {"icon_velmor_back", 12, 22, [](cairo_t* cr) { chevronLeft(cr, 12, 22, 0xffffff); }},
    {"backBtn", 12, 22, [](cairo_t* cr) { chevronLeft(cr, 12, 22, 0x464646); }},
};

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path out = argc > 1 ? argv[1] : "icons";
  std::error_code ec;
  std::filesystem::create_directories(out, ec);
  int failures = 0;
  for (const auto& icon : kIcons) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, icon.width * 2, icon.height * 2);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, 2, 2);
    icon.draw(cr);
    cairo_destroy(cr);
    auto path = out / (std::string(icon.name) + "@2x.png");
    if (cairo_surface_write_to_png(surface, path.c_str()) != CAIRO_STATUS_SUCCESS) {
      std::fprintf(stderr, "failed: %s\n", path.c_str());
      ++failures;
    } else {
      std::printf("%s\n", path.c_str());
    }
    cairo_surface_destroy(surface);
  }
  return failures == 0 ? 0 : 1;
}
