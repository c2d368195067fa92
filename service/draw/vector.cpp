// Vector stamps; see vector.h for the approach.
#include "draw/vector.h"

#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "draw/render_core.h"

namespace tambrel {
namespace {

using namespace draw;

// Paths are captured in device units of 1/100 mm: cairo splits arcs into as many curves as its
// tolerance (a quarter of a device unit here, 2.5 µm) asks, far finer than print needs.
constexpr double kUnitsPerMm = 100;
constexpr double kPtPerMm = 72 / 25.4;
constexpr double kNoiseCellMm = 0.4;  // as the raster's noise

// One mark in the luminance mask, painted over the ones before it.
struct Mark {
  enum class Kind { Fill, Stroke, Patch } kind = Kind::Fill;
  bool ink = true;     // white (ink) or black (cut, wear)
  double alpha = 1;    // fill opacity; for a patch, at its centre (fading to 0 at r)
  bool evenOdd = false;
  double lineWidth = 0;
  cairo_line_join_t join = CAIRO_LINE_JOIN_MITER;
  double miterLimit = 10;
  PathPtr path;              // millimetres
  double cx = 0, cy = 0, r = 0;  // patch
};

// Uneven ink: a grid of density multipliers, node (i, j) at (x0 + i·cell, y0 + j·cell) mm.
struct Noise {
  int gw = 0, gh = 0;
  double x0 = 0, y0 = 0;
  std::vector<float> values;
};

struct Picture {
  ShapeMm mm{};
  uint32_t rgb = 0;
  std::vector<Mark> marks;
  std::optional<Noise> noise;
};

// Takes the Painter's fills and strokes, and the wear, as marks instead of painting them.
class Recorder final : public MarkRecorder, public WearSink {
 public:
  Recorder(cairo_t* cr, std::vector<Mark>& marks) : cr_(cr), marks_(marks) {}

  void fill(cairo_t* cr) override {
    take(cr, Mark::Kind::Fill);
    cairo_new_path(cr);
  }
  void fillPreserve(cairo_t* cr) override { take(cr, Mark::Kind::Fill); }
  void stroke(cairo_t* cr) override {
    take(cr, Mark::Kind::Stroke);
    cairo_new_path(cr);
  }

  void speckle(double x, double y, double r, double alpha) override {
    cairo_new_sub_path(cr_);
    cairo_arc(cr_, x, y, r, 0, 2 * kPi);
    cut(alpha);
  }
  void chip(double x, double y, double r) override {
    cairo_new_sub_path(cr_);
    cairo_arc(cr_, x, y, r, 0, 2 * kPi);
  }
  void bite() override { cut(1); }
  void patch(double x, double y, double r, double alpha) override {
    cairo_new_path(cr_);
    cairo_arc(cr_, x, y, r, 0, 2 * kPi);
    Mark m;
    m.kind = Mark::Kind::Patch;
    m.ink = false;
    m.alpha = alpha;
    m.cx = x, m.cy = y, m.r = r;
    m.path.reset(cairo_copy_path(cr_));
    marks_.push_back(std::move(m));
    cairo_new_path(cr_);
  }

 private:
  void take(cairo_t* cr, Mark::Kind kind) {
    Mark m;
    m.kind = kind;
    // The drawing code inks with OVER and cuts with CLEAR; nothing else reaches here.
    m.ink = cairo_get_operator(cr) != CAIRO_OPERATOR_CLEAR;
    m.evenOdd = cairo_get_fill_rule(cr) == CAIRO_FILL_RULE_EVEN_ODD;
    if (kind == Mark::Kind::Stroke) {
      m.lineWidth = cairo_get_line_width(cr);
      m.join = cairo_get_line_join(cr);
      m.miterLimit = cairo_get_miter_limit(cr);
    }
    m.path.reset(cairo_copy_path(cr));
    marks_.push_back(std::move(m));
  }
  void cut(double alpha) {
    Mark m;
    m.ink = false;
    m.alpha = alpha;
    m.path.reset(cairo_copy_path(cr_));
    marks_.push_back(std::move(m));
    cairo_new_path(cr_);
  }

  cairo_t* cr_;
  std::vector<Mark>& marks_;
};

Picture record(const FontSet& fonts, const StampStyle& style, std::u32string_view text) {
  Picture pic;
  pic.mm = styleMm(style);
  pic.rgb = style.color & 0xFFFFFF;
  // Only paths are built, never painted, so the surface's size does not matter.
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1));
  ContextPtr cr(cairo_create(surface.get()));
  setDrawingOptions(cr.get());
  cairo_scale(cr.get(), kUnitsPerMm, kUnitsPerMm);

  Recorder recorder(cr.get(), pic.marks);
  Painter painter(fonts, style, cr.get(), &recorder);
  painter.emboldenMm = emboldenMm(fonts, style);
  drawShape(painter, splitStampText(style, text), Layer::All);
  if (style.aged) {
    Rng rng{agedSeed(style, text) | 1};
    wear(recorder, rng, pic.mm, style.shape == Shape::Round || style.shape == Shape::Oval, agedStrength(style));
    Noise noise;
    noise.x0 = noise.y0 = -kMarginMm;
    noise.gw = static_cast<int>((pic.mm.w + 2 * kMarginMm) / kNoiseCellMm) + 2;
    noise.gh = static_cast<int>((pic.mm.h + 2 * kMarginMm) / kNoiseCellMm) + 2;
    noise.values = inkNoise(rng, noise.gw, noise.gh, agedStrength(style));
    pic.noise = std::move(noise);
  }
  return pic;
}

// Shortest fixed notation with three decimals (1 µm): "12.5", "0", "-3.125".
void number(std::string& out, double v) {
  char buf[40];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 3);
  if (ec != std::errc()) {
    out += '0';
    return;
  }
  char* p = end;
  while (p > buf && p[-1] == '0') --p;
  if (p > buf && p[-1] == '.') --p;
  std::string_view s(buf, static_cast<size_t>(p - buf));
  if (s == "-0" || s.empty()) s = "0";
  out += s;
}

// The path in the syntax both formats share apart from their operators.
void pathData(std::string& out, const cairo_path_t* path, bool svg) {
  for (int i = 0; i < path->num_data; i += path->data[i].header.length) {
    const cairo_path_data_t* d = &path->data[i];
    auto point = [&](int k) {
      number(out, d[k].point.x);
      out += ' ';
      number(out, d[k].point.y);
      out += ' ';
    };
    switch (d->header.type) {
      case CAIRO_PATH_MOVE_TO:
        if (svg) out += "M";
        point(1);
        if (!svg) out += "m ";
        break;
      case CAIRO_PATH_LINE_TO:
        if (svg) out += "L";
        point(1);
        if (!svg) out += "l ";
        break;
      case CAIRO_PATH_CURVE_TO:
        if (svg) out += "C";
        point(1), point(2), point(3);
        if (!svg) out += "c ";
        break;
      case CAIRO_PATH_CLOSE_PATH: out += svg ? "Z " : "h "; break;
    }
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
}

const char* svgJoin(cairo_line_join_t j) {
  return j == CAIRO_LINE_JOIN_ROUND ? "round" : j == CAIRO_LINE_JOIN_BEVEL ? "bevel" : "miter";
}

std::string base64(const void* data, size_t size) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const auto* p = static_cast<const uint8_t*>(data);
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  for (size_t i = 0; i < size; i += 3) {
    uint32_t v = p[i] << 16 | (i + 1 < size ? p[i + 1] << 8 : 0) | (i + 2 < size ? p[i + 2] : 0);
    out += kDigits[v >> 18 & 63];
    out += kDigits[v >> 12 & 63];
    out += i + 1 < size ? kDigits[v >> 6 & 63] : '=';
    out += i + 2 < size ? kDigits[v & 63] : '=';
  }
  return out;
}

struct SpngDeleter {
  void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};

// The noise as a black picture whose opacity is 1 - density: painted over the mask it
// multiplies the coverage by the density, as the raster does.
std::string noisePng(const Noise& noise) {
  std::unique_ptr<spng_ctx, SpngDeleter> ctx(spng_ctx_new(SPNG_CTX_ENCODER));
  if (!ctx) return {};
  spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr ihdr{};
  ihdr.width = static_cast<uint32_t>(noise.gw);
  ihdr.height = static_cast<uint32_t>(noise.gh);
  ihdr.bit_depth = 8;
  ihdr.color_type = SPNG_COLOR_TYPE_GRAYSCALE_ALPHA;
  spng_set_ihdr(ctx.get(), &ihdr);
  std::vector<uint8_t> pixels(noise.values.size() * 2);
  for (size_t i = 0; i < noise.values.size(); ++i)
    pixels[2 * i + 1] = static_cast<uint8_t>(std::lround((1 - noise.values[i]) * 255));
  if (spng_encode_image(ctx.get(), pixels.data(), pixels.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) != 0) return {};
  size_t size = 0;
  int err = 0;
  void* buffer = spng_get_png_buffer(ctx.get(), &size, &err);
  if (!buffer) return {};
  std::string out(static_cast<const char*>(buffer), size);
  free(buffer);
  return out;
}

std::string hexColour(uint32_t rgb) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%06X", rgb & 0xFFFFFF);
  return buf;
}

std::string svg(const Picture& pic) {
  std::string w, h;
  number(w, pic.mm.w);
  number(h, pic.mm.h);
  std::string out;
  out.reserve(64 * 1024);
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"" + w +
         "mm\" height=\"" + h + "mm\" viewBox=\"0 0 " + w + " " + h + "\">\n<defs>\n";
  int patch = 0;
  for (const Mark& m : pic.marks) {
    if (m.kind != Mark::Kind::Patch) continue;
    out += "<radialGradient id=\"p" + std::to_string(patch++) + "\" gradientUnits=\"userSpaceOnUse\" cx=\"";
    number(out, m.cx);
    out += "\" cy=\"";
    number(out, m.cy);
    out += "\" r=\"";
    number(out, m.r);
    out += "\"><stop offset=\"0\" stop-opacity=\"";
    number(out, m.alpha);
    out += "\"/><stop offset=\"1\" stop-opacity=\"0\"/></radialGradient>\n";
  }
  // The mask: white where there is ink, painted in drawing order.
  out += "<mask id=\"ink\" maskUnits=\"userSpaceOnUse\" x=\"0\" y=\"0\" width=\"" + w + "\" height=\"" + h + "\">\n";
  patch = 0;
  for (const Mark& m : pic.marks) {
    out += "<path d=\"";
    pathData(out, m.path.get(), true);
    out += '"';
    const char* colour = m.ink ? "#fff" : "#000";
    if (m.kind == Mark::Kind::Stroke) {
      out += " fill=\"none\" stroke=\"";
      out += colour;
      out += "\" stroke-width=\"";
      number(out, m.lineWidth);
      out += "\" stroke-linejoin=\"";
      out += svgJoin(m.join);
      out += "\" stroke-miterlimit=\"";
      number(out, m.miterLimit);
      out += '"';
    } else if (m.kind == Mark::Kind::Patch) {
      out += " fill=\"url(#p" + std::to_string(patch++) + ")\"";
    } else {
      out += " fill=\"";
      out += colour;
      out += '"';
      if (m.evenOdd) out += " fill-rule=\"evenodd\"";
      if (m.alpha < 1) {
        out += " fill-opacity=\"";
        number(out, m.alpha);
        out += '"';
      }
    }
    out += "/>\n";
  }
  if (pic.noise) {
    const Noise& n = *pic.noise;
    std::string png = noisePng(n);
    if (png.empty()) return {};
    // Pixel centres on the grid nodes, so smooth scaling interpolates between them.
    out += "<image x=\"";
    number(out, n.x0 - kNoiseCellMm / 2);
    out += "\" y=\"";
    number(out, n.y0 - kNoiseCellMm / 2);
    out += "\" width=\"";
    number(out, n.gw * kNoiseCellMm);
    out += "\" height=\"";
    number(out, n.gh * kNoiseCellMm);
    out += "\" preserveAspectRatio=\"none\" xlink:href=\"data:image/png;base64," + base64(png.data(), png.size()) +
           "\"/>\n";
  }
  out += "</mask>\n</defs>\n<rect width=\"" + w + "\" height=\"" + h + "\" fill=\"" + hexColour(pic.rgb) +
         "\" mask=\"url(#ink)\"/>\n</svg>\n";
  return out;
}

std::string deflate(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
    return {};
  out.resize(size);
  return out;
}

// A PDF of one page: the colour painted through a luminosity soft mask, a form whose content is
// the marks in millimetres (y down, as drawn).
std::string pdf(const Picture& pic) {
  const double wPt = pic.mm.w * kPtPerMm, hPt = pic.mm.h * kPtPerMm;
  std::string wp, hp;
  number(wp, wPt);
  number(hp, hPt);

  std::string marks;
  marks.reserve(64 * 1024);
  number(marks, kPtPerMm);
  marks += " 0 0 ";
  number(marks, -kPtPerMm);
  marks += " 0 " + hp + " cm\n";
  // An opaque black ground: multiplying (wear) onto a transparent backdrop would paint the
  // multiplier itself instead of darkening nothing.
  marks += "0 g -1 -1 ";
  number(marks, pic.mm.w + 2);
  marks += ' ';
  number(marks, pic.mm.h + 2);
  marks += " re f\n";
  std::map<std::string, std::string> opacities;  // "/ca" value → resource name
  std::string shadings;
  int patch = 0;
  bool multiply = false;
  for (const Mark& m : pic.marks) {
    const char* grey = m.ink ? "1" : "0";
    if (m.kind == Mark::Kind::Patch) {
      // Fading wear: the coverage multiplied by a grey from 1 - alpha at the centre to 1 at r.
      std::string name = "P" + std::to_string(patch++);
      shadings += "/" + name + " << /ShadingType 3 /ColorSpace /DeviceGray /Coords [";
      for (double v : {m.cx, m.cy, 0.0, m.cx, m.cy, m.r}) number(shadings, v), shadings += ' ';
      shadings += "] /Function << /FunctionType 2 /Domain [0 1] /C0 [";
      number(shadings, 1 - m.alpha);
      shadings += "] /C1 [1] /N 1 >> /Extend [false false] >>\n";
      marks += "q /Mul gs ";
      pathData(marks, m.path.get(), false);
      marks += " W n /" + name + " sh Q\n";
      multiply = true;
      continue;
    }
    std::string alphaName;
    if (m.alpha < 1) {
      std::string a;
      number(a, m.alpha);
      auto [it, fresh] = opacities.emplace(a, "A" + std::to_string(opacities.size()));
      alphaName = it->second;
      marks += "q /" + alphaName + " gs ";
    }
    if (m.kind == Mark::Kind::Stroke) {
      marks += grey;
      marks += " G ";
      number(marks, m.lineWidth);
      marks += " w " + std::to_string(static_cast<int>(m.join)) + " j ";
      number(marks, m.miterLimit);
      marks += " M ";
      pathData(marks, m.path.get(), false);
      marks += " S";
    } else {
      marks += grey;
      marks += " g ";
      pathData(marks, m.path.get(), false);
      marks += m.evenOdd ? " f*" : " f";
    }
    marks += alphaName.empty() ? "\n" : " Q\n";
  }
  std::string noiseImage;
  if (pic.noise) {
    const Noise& n = *pic.noise;
    // The density grid as a grey picture multiplied in, pixel centres on the grid nodes.
    std::string grey(n.values.size(), '\0');
    for (size_t i = 0; i < n.values.size(); ++i) grey[i] = static_cast<char>(std::lround(n.values[i] * 255));
    noiseImage = deflate(grey);
    if (noiseImage.empty()) return {};
    const double x = n.x0 - kNoiseCellMm / 2, y = n.y0 - kNoiseCellMm / 2;
    const double w = n.gw * kNoiseCellMm, h = n.gh * kNoiseCellMm;
    marks += "q /Mul gs ";
    for (double v : {w, 0.0, 0.0, -h, x, y + h}) number(marks, v), marks += ' ';
    marks += "cm /Noise Do Q\n";
    multiply = true;
  }

  std::string resources = "<< ";
  if (!opacities.empty() || multiply) {
    resources += "/ExtGState << ";
    if (multiply) resources += "/Mul << /BM /Multiply >> ";
    for (const auto& [value, name] : opacities) resources += "/" + name + " << /ca " + value + " >> ";
    resources += ">> ";
  }
  if (!shadings.empty()) resources += "/Shading << " + shadings + ">> ";
  if (pic.noise) resources += "/XObject << /Noise 7 0 R >> ";
  resources += ">>";

  std::string content = "/Ink gs ";
  for (int shift : {16, 8, 0}) {
    number(content, ((pic.rgb >> shift) & 255) / 255.0);
    content += ' ';
  }
  content += "rg 0 0 " + wp + " " + hp + " re f\n";

  std::string maskStream = deflate(marks);
  if (maskStream.empty()) return {};

  std::vector<std::string> objects;
  objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  objects.push_back("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + wp + " " + hp +
                    "] /Resources << /ExtGState << /Ink 4 0 R >> >> /Contents 5 0 R"
                    " /Group << /Type /Group /S /Transparency /CS /DeviceRGB >> >>");
  objects.push_back("<< /Type /ExtGState /SMask << /Type /Mask /S /Luminosity /G 6 0 R >> >>");
  objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream");
  objects.push_back("<< /Type /XObject /Subtype /Form /BBox [0 0 " + wp + " " + hp +
                    "] /Group << /Type /Group /S /Transparency /CS /DeviceGray >> /Resources " + resources +
                    " /Filter /FlateDecode /Length " + std::to_string(maskStream.size()) + " >>\nstream\n" +
                    maskStream + "\nendstream");
  if (pic.noise) {
    const Noise& n = *pic.noise;
    objects.push_back("<< /Type /XObject /Subtype /Image /Width " + std::to_string(n.gw) + " /Height " +
                      std::to_string(n.gh) +
                      " /ColorSpace /DeviceGray /BitsPerComponent 8 /Interpolate true /Filter /FlateDecode /Length " +
                      std::to_string(noiseImage.size()) + " >>\nstream\n" + noiseImage + "\nendstream");
  }

  std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t off : offsets) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return out;
}

}  // namespace

std::string renderStampVector(const FontSet& fonts, const StampStyle& style, std::u32string_view text,
                              VectorFormat format) {
  Picture pic = record(fonts, style, text);
  return format == VectorFormat::Svg ? svg(pic) : pdf(pic);
}

double inkOverreachMm(const FontSet& fonts, const StampStyle& style, std::u32string_view text) {
  const Picture pic = record(fonts, style, text);
  const bool elliptic = style.shape == Shape::Round || style.shape == Shape::Oval;
  const double A = pic.mm.w / 2, B = pic.mm.h / 2;
  // Curves are measured flattened to a micrometre: their control points lie well off the curve.
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1));
  ContextPtr cr(cairo_create(surface.get()));
  cairo_set_tolerance(cr.get(), 0.001);
  double most = 0;
  for (const Mark& m : pic.marks) {
    if (!m.ink) continue;
    const double half = m.kind == Mark::Kind::Stroke ? m.lineWidth / 2 : 0;
    cairo_new_path(cr.get());
    cairo_append_path(cr.get(), m.path.get());
    const PathPtr flat(cairo_copy_path_flat(cr.get()));
    for (int i = 0; i < flat->num_data; i += flat->data[i].header.length) {
      const cairo_path_data_t* d = &flat->data[i];
      if (d->header.type == CAIRO_PATH_CLOSE_PATH) continue;
      const double x = d[1].point.x, y = d[1].point.y;
      double out;
      if (elliptic) {
        // Radial distance past the ellipse: exact for a circle, close for the seals' ovals.
        const double r = std::hypot((x - A) / A, (y - B) / B);
        out = (r - 1) * std::hypot(x - A, y - B) / std::max(r, 1e-9);
      } else {
        out = std::max({-x, x - pic.mm.w, -y, y - pic.mm.h});
      }
      most = std::max(most, out + half);
    }
  }
  return most;
}

}  // namespace tambrel
