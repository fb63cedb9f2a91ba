#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>

#include "jpeg/jpeg.h"
#include "platform/page.h"

namespace qev {

namespace {

// cairo's RGB24 pixel is a native 32-bit xRGB word: blue, green, red, unused in memory on a
// little-endian machine, which is the encoder's bgrx layout, so rows go to it as they are.
static_assert(std::endian::native == std::endian::little);

template <auto destroy>
struct Destroy {
  template <typename T>
  void operator()(T* p) const {
    destroy(p);
  }
};
using Surface = std::unique_ptr<cairo_surface_t, Destroy<cairo_surface_destroy>>;
using Context = std::unique_ptr<cairo_t, Destroy<cairo_destroy>>;
using FontFace = std::unique_ptr<cairo_font_face_t, Destroy<cairo_font_face_destroy>>;
using Pattern = std::unique_ptr<FcPattern, Destroy<FcPatternDestroy>>;

// The system's user-interface font as fontconfig resolves it: "system-ui" where the
// configuration names one, else the default sans-serif face.
FontFace userInterfaceFont() {
  Pattern wanted(FcPatternCreate());
  if (!wanted) return nullptr;
  for (const char* family : {"system-ui", "sans-serif"}) {
    FcPatternAddString(wanted.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  }
  if (!FcConfigSubstitute(nullptr, wanted.get(), FcMatchPattern)) return nullptr;
  FcDefaultSubstitute(wanted.get());
  FcResult result = FcResultNoMatch;
  Pattern found(FcFontMatch(nullptr, wanted.get(), &result));
  if (!found || result != FcResultMatch) return nullptr;
  FontFace face(cairo_ft_font_face_create_for_pattern(found.get()));
  if (cairo_font_face_status(face.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  return face;
}

class CairoPainter : public Painter {
 public:
  std::optional<std::vector<unsigned char>> paint(const PageDrawing& page) override {
    if (!font) font = userInterfaceFont();
    if (!font) return std::nullopt;

    // The image is kept from page to page (it is painted over entirely), which spares
    // mapping and zeroing 3 MB for every page.
    if (!surface || cairo_image_surface_get_width(surface.get()) != page.width ||
        cairo_image_surface_get_height(surface.get()) != page.height) {
      surface.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, page.width, page.height));
    }
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
      surface.reset();
      return std::nullopt;
    }
    Context cr(cairo_create(surface.get()));

    Rgb background = rgbOf(page.background);
    cairo_set_source_rgb(cr.get(), background.red / 255.0, background.green / 255.0,
                         background.blue / 255.0);
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr.get());
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_OVER);

    // cairo's y grows downwards from the top edge.
    cairo_set_source_rgb(cr.get(), 0, 0, 0);
    cairo_set_font_face(cr.get(), font.get());
    cairo_set_font_size(cr.get(), page.fontSize);
    cairo_move_to(cr.get(), page.textX, page.height - page.textY);
    cairo_show_text(cr.get(), page.text.c_str());
    if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
    cairo_surface_flush(surface.get());

    std::vector<unsigned char> jpeg;
    auto writer = JpegWriter::toMemory(jpeg);
    JpegShape shape{
        .width = page.width,
        .height = page.height,
        .layout = PixelLayout::bgrx,
        .density = 72,
        .quality = static_cast<int>(std::lround(std::clamp(page.quality, 0.0, 1.0) * 100))};
    if (writer->begin(shape)) return std::nullopt;
    const unsigned char* rows = cairo_image_surface_get_data(surface.get());
    auto stride = static_cast<std::size_t>(cairo_image_surface_get_stride(surface.get()));
    if (rows == nullptr || writer->rows(rows, stride, page.height)) return std::nullopt;
    if (writer->finish()) return std::nullopt;
    return jpeg;
  }

 private:
  FontFace font;
  Surface surface;
};

}  // namespace

std::unique_ptr<Painter> newPainter() { return std::make_unique<CairoPainter>(); }

}  // namespace qev
