// Font discovery and loading; see fonts.h.
#include "catalog/fonts.h"

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SFNT_NAMES_H
#include FT_TRUETYPE_IDS_H

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace tambrel {
namespace {

struct KnownFont {
  Script script;
  const char* path;
  const char* preferFamily;  // picks the simplified-Chinese face inside a collection
};

constexpr KnownFont kKnownFonts[] = {
    {Script::Song, "/usr/share/fonts/opentype/noto/NotoSerifCJK-Bold.ttc", "SC"},
    {Script::Kai, "/usr/share/fonts/truetype/arphic/ukai.ttc", "CN"},
    {Script::Hei, "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc", "Micro Hei"},
    {Script::Song, "/usr/share/fonts/opentype/noto/NotoSerifCJK-Regular.ttc", "SC"},
    {Script::Hei, "/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc", "SC"},
};

}  // namespace

const FaceVariant kFaceVariants[] = {
    {"noto-serif", "思源宋体", "Noto Serif CJK SC", 200, "/usr/share/fonts/opentype/noto/NotoSerifCJK-ExtraLight.ttc", "SC"},
    {"noto-serif", "思源宋体", "Noto Serif CJK SC", 300, "/usr/share/fonts/opentype/noto/NotoSerifCJK-Light.ttc", "SC"},
    {"noto-serif", "思源宋体", "Noto Serif CJK SC", 400, "/usr/share/fonts/opentype/noto/NotoSerifCJK-Regular.ttc", "SC"},
    {"noto-serif", "思源宋体", "Noto Serif CJK SC", 500, "/usr/share/fonts/opentype/noto/NotoSerifCJK-Medium.ttc", "SC"},
    {"noto-serif", "思源宋体", "Noto Serif CJK SC", 600, "/usr/share/fonts/opentype/noto/NotoSerifCJK-SemiBold.ttc", "SC"},
    {"noto-serif", "思源宋体", "Noto Serif CJK SC", 700, "/usr/share/fonts/opentype/noto/NotoSerifCJK-Bold.ttc", "SC"},
    {"noto-serif", "思源宋体", "Noto Serif CJK SC", 900, "/usr/share/fonts/opentype/noto/NotoSerifCJK-Black.ttc", "SC"},
    {"noto-sans", "思源黑体", "Noto Sans CJK SC", 100, "/usr/share/fonts/opentype/noto/NotoSansCJK-Thin.ttc", "SC"},
    {"noto-sans", "思源黑体", "Noto Sans CJK SC", 300, "/usr/share/fonts/opentype/noto/NotoSansCJK-Light.ttc", "SC"},
    {"noto-sans", "思源黑体", "Noto Sans CJK SC", 350, "/usr/share/fonts/opentype/noto/NotoSansCJK-DemiLight.ttc", "SC"},
    {"noto-sans", "思源黑体", "Noto Sans CJK SC", 400, "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc", "SC"},
    {"noto-sans", "思源黑体", "Noto Sans CJK SC", 500, "/usr/share/fonts/opentype/noto/NotoSansCJK-Medium.ttc", "SC"},
    {"noto-sans", "思源黑体", "Noto Sans CJK SC", 700, "/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc", "SC"},
    {"noto-sans", "思源黑体", "Noto Sans CJK SC", 900, "/usr/share/fonts/opentype/noto/NotoSansCJK-Black.ttc", "SC"},
    {"ar-sungti", "文鼎细上海宋", "AR PL SungtiL GB", 400, "/usr/share/fonts/truetype/arphic-gbsn00lp/gbsn00lp.ttf", nullptr},
    {"ar-kaiti", "文鼎中楷", "AR PL KaitiM GB", 400, "/usr/share/fonts/truetype/arphic-gkai00mp/gkai00mp.ttf", nullptr},
    {"wqy-microhei", "文泉驿微米黑", "WenQuanYi Micro Hei", 400, "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc", "Micro Hei"},
    {"wqy-zenhei", "文泉驿正黑", "WenQuanYi Zen Hei", 500, "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc", "Zen Hei"},
    {"lxgw-wenkai", "霞鹜文楷", "LXGW WenKai", 300, "/usr/share/fonts/truetype/lxgw-wenkai/LXGWWenKai-Light.ttf", nullptr},
    {"lxgw-wenkai", "霞鹜文楷", "LXGW WenKai", 400, "/usr/share/fonts/truetype/lxgw-wenkai/LXGWWenKai-Regular.ttf", nullptr},
    {"lxgw-wenkai", "霞鹜文楷", "LXGW WenKai", 700, "/usr/share/fonts/truetype/lxgw-wenkai/LXGWWenKai-Bold.ttf", nullptr},
    {"tw-kai", "全字库正楷体", "TW-Kai", 400, "/usr/share/fonts/truetype/cns11643/TW-Kai-98_1.ttf", nullptr},
    {"tw-sung", "全字库正宋体", "TW-Sung", 400, "/usr/share/fonts/truetype/cns11643/TW-Sung-98_1.ttf", nullptr},
    {"hanamin", "花园明朝", "HanaMinA", 500, "/usr/share/fonts/truetype/hanazono/HanaMinA.ttf", nullptr},
};
const size_t kFaceVariantCount = std::size(kFaceVariants);

int findFaceVariant(std::string_view family, int weight) {
  int first = -1;
  for (size_t i = 0; i < kFaceVariantCount; ++i) {
    const FaceVariant& v = kFaceVariants[i];
    if (v.family != family) continue;
    if (first < 0) first = static_cast<int>(i);
    if (v.weight == weight || (weight == 0 && v.weight == 400)) return static_cast<int>(i);
  }
  return weight == 0 ? first : -1;
}

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// All names of a face (English and Chinese family names), UTF-8, for recognising seal and
// clerical fonts that name themselves only in Chinese.
std::string allNames(FT_Face face) {
  std::string names = face->family_name ? face->family_name : "";
  FT_UInt count = FT_Get_Sfnt_Name_Count(face);
  for (FT_UInt i = 0; i < count; ++i) {
    FT_SfntName n;
    if (FT_Get_Sfnt_Name(face, i, &n) != 0) continue;
    if (n.name_id != TT_NAME_ID_FONT_FAMILY && n.name_id != TT_NAME_ID_FULL_NAME) continue;
    names += '|';
    if (n.platform_id == TT_PLATFORM_MICROSOFT) {  // UTF-16BE
      for (FT_UInt k = 0; k + 1 < n.string_len; k += 2) {
        char32_t c = (n.string[k] << 8) | n.string[k + 1];
        if (c < 0x80) {
          names += static_cast<char>(c);
        } else if (c < 0x800) {
          names += static_cast<char>(0xC0 | (c >> 6));
          names += static_cast<char>(0x80 | (c & 0x3F));
        } else {
          names += static_cast<char>(0xE0 | (c >> 12));
          names += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
          names += static_cast<char>(0x80 | (c & 0x3F));
        }
      }
    } else {
      names.append(reinterpret_cast<const char*>(n.string), n.string_len);
    }
  }
  return names;
}

const cairo_user_data_key_t kFaceKey{};

// A font file mapped read-only. Only regular files are opened, and without blocking: a FIFO or
// device named like a font would otherwise stall start-up in open() or read() for ever.
struct MappedFile {
  const FT_Byte* data = nullptr;
  size_t size = 0;
  ~MappedFile() {
    if (data) munmap(const_cast<FT_Byte*>(data), size);
  }
};

std::shared_ptr<MappedFile> mapRegularFile(const std::string& file, std::string* why) {
  int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *why = std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *why = "not a regular file";
    ::close(fd);
    return nullptr;
  }
  if (st.st_size == 0) {
    *why = "empty file";
    ::close(fd);
    return nullptr;
  }
  void* p = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  int err = errno;
  ::close(fd);
  if (p == MAP_FAILED) {
    *why = std::strerror(err);
    return nullptr;
  }
  auto m = std::make_shared<MappedFile>();
  m->data = static_cast<const FT_Byte*>(p);
  m->size = static_cast<size_t>(st.st_size);
  return m;
}

// Owned by the cairo face: the FreeType face and the mapping it reads from.
struct FaceOwner {
  FT_Face face;
  std::shared_ptr<MappedFile> file;
};

}  // namespace

struct FontSet::Impl {
  FT_Library library = nullptr;
  ~Impl() {
    if (library) FT_Done_FreeType(library);
  }
};

FontSet::~FontSet() {
  // The cairo faces own their FT_Face through user data; they must go before the library.
  for (Font& f : fonts_) cairo_font_face_destroy(f.face);
  fonts_.clear();
}

std::unique_ptr<FontSet> FontSet::load(const std::vector<std::string>& extraDirs, std::string* log, bool systemFonts) {
  std::unique_ptr<FontSet> set(new FontSet);
  set->impl_ = std::make_unique<Impl>();
  static std::atomic<uint64_t> serials{0};
  set->serial_ = ++serials;
  if (FT_Init_FreeType(&set->impl_->library) != 0) return nullptr;
  FT_Library lib = set->impl_->library;

  // Opens the face of `file` whose names contain `prefer` (or the first face) and wraps it.
  // Skipped files get one line each in the log, with the reason.
  auto skip = [&](const std::string& file, const std::string& why) {
    if (log) *log += "skipped font file " + file + ": " + why + "\n";
    return -1;
  };
  auto open = [&](const std::string& file, const char* prefer, std::string* namesOut) -> int {
    std::string why;
    std::shared_ptr<MappedFile> mapped = mapRegularFile(file, &why);
    if (!mapped) return skip(file, why);
    auto newFace = [&](FT_Long index, FT_Face* out) {
      return FT_New_Memory_Face(lib, mapped->data, static_cast<FT_Long>(mapped->size), index, out);
    };
    FT_Face probe;
    if (newFace(-1, &probe) != 0) return skip(file, "not a font FreeType can read");
    FT_Long faces = probe->num_faces;
    FT_Done_Face(probe);
    FT_Long chosen = -1;
    std::string chosenNames;
    for (FT_Long i = 0; i < faces; ++i) {
      FT_Face f;
      if (newFace(i, &f) != 0) continue;
      bool cjk = FT_Get_Char_Index(f, U'中') != 0;
      std::string names = allNames(f);
      FT_Done_Face(f);
      if (!cjk) continue;
      if (chosen < 0 || (prefer && names.find(prefer) != std::string::npos && chosenNames.find(prefer) == std::string::npos)) {
        chosen = i;
        chosenNames = names;
      }
    }
    if (chosen < 0) return skip(file, "no face with CJK characters");
    FT_Face face;
    if (newFace(chosen, &face) != 0) return skip(file, "not a font FreeType can read");
    cairo_font_face_t* cf = cairo_ft_font_face_create_for_ft_face(face, FT_LOAD_NO_HINTING);
    auto* owner = new FaceOwner{face, mapped};
    if (cairo_font_face_set_user_data(cf, &kFaceKey, owner, [](void* p) {
          auto* o = static_cast<FaceOwner*>(p);
          FT_Done_Face(o->face);
          delete o;
        }) != CAIRO_STATUS_SUCCESS) {
      cairo_font_face_destroy(cf);
      FT_Done_Face(face);
      delete owner;
      return -1;
    }
    Font font;
    font.name = face->family_name ? face->family_name : file;
    font.file = file;
    font.face = cf;
    set->fonts_.push_back(std::move(font));
    if (namesOut) *namesOut = chosenNames;
    return static_cast<int>(set->fonts_.size()) - 1;
  };

  std::vector<std::pair<std::string, int>> opened;  // a file serves a script and a variant alike
  for (const KnownFont& k : kKnownFonts) {
    if (!systemFonts || !std::filesystem::exists(k.path)) continue;
    int idx = open(k.path, k.preferFamily, nullptr);
    if (idx >= 0) opened.emplace_back(k.path, idx);
    if (idx >= 0 && set->own_[static_cast<int>(k.script)] < 0) set->own_[static_cast<int>(k.script)] = idx;
  }
  set->variants_.assign(kFaceVariantCount, -1);
  for (size_t i = 0; i < kFaceVariantCount && systemFonts; ++i) {
    const std::string path(kFaceVariants[i].path);
    auto same = std::find_if(opened.begin(), opened.end(), [&](const auto& o) { return o.first == path; });
    if (same != opened.end()) {
      set->variants_[i] = same->second;
    } else if (std::filesystem::exists(path)) {
      set->variants_[i] = open(path, kFaceVariants[i].prefer, nullptr);
      if (set->variants_[i] >= 0) {
        set->fonts_[set->variants_[i]].fallback = false;
        opened.emplace_back(path, set->variants_[i]);
      }
    }
  }
  for (const std::string& dir : extraDirs) {
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    // Listing does not open the entries; open() above decides on each file by what it is.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(
             dir, std::filesystem::directory_options::skip_permission_denied, ec)) {
      std::string ext = lower(entry.path().extension().string());
      if (ext == ".ttf" || ext == ".otf" || ext == ".ttc" || ext == ".otc") files.push_back(entry.path());
    }
    if (ec && log) *log += "cannot read font folder " + dir + ": " + ec.message() + "\n";
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
      std::string names;
      int idx = open(path.string(), nullptr, &names);
      if (idx < 0) continue;
      std::string key = lower(names + "|" + path.filename().string());
      // Operator-supplied faces take over their script; any other becomes a fallback only.
      if (key.find("篆") != std::string::npos || key.find("zhuan") != std::string::npos ||
          key.find("seal") != std::string::npos)
        set->own_[static_cast<int>(Script::Zhuan)] = idx;
      else if (key.find("隶") != std::string::npos || key.find("隸") != std::string::npos ||
               key.find("lishu") != std::string::npos || key.find("clerical") != std::string::npos)
        set->own_[static_cast<int>(Script::Li)] = idx;
      else if (key.find("楷") != std::string::npos || key.find("kai") != std::string::npos)
        set->own_[static_cast<int>(Script::Kai)] = idx;
    }
  }
  if (set->fonts_.empty()) return nullptr;

  auto resolve = [&](Script s, Script fallback) {
    int own = set->own_[static_cast<int>(s)];
    int fb = set->own_[static_cast<int>(fallback)];
    set->chosen_[static_cast<int>(s)] = own >= 0 ? own : fb >= 0 ? fb : 0;
  };
  resolve(Script::Song, Script::Hei);
  resolve(Script::Kai, Script::Song);
  resolve(Script::Hei, Script::Song);
  // Resolve the fallbacks from the final Kai/Song choice.
  set->chosen_[static_cast<int>(Script::Zhuan)] = set->own_[static_cast<int>(Script::Zhuan)] >= 0
                                                      ? set->own_[static_cast<int>(Script::Zhuan)]
                                                      : set->chosen_[static_cast<int>(Script::Kai)];
  set->chosen_[static_cast<int>(Script::Li)] = set->own_[static_cast<int>(Script::Li)] >= 0
                                                   ? set->own_[static_cast<int>(Script::Li)]
                                                   : set->chosen_[static_cast<int>(Script::Song)];
  if (log) {
    static const char* kNames[] = {"song", "kai", "hei", "zhuan", "li"};
    for (int s = 0; s < 5; ++s)
      *log += std::string(kNames[s]) + ": " + set->fonts_[set->chosen_[s]].name + " (" +
              set->fonts_[set->chosen_[s]].file + ")" + (set->own_[s] < 0 ? " [fallback]" : "") + "\n";
  }
  return set;
}

const Font& FontSet::forScript(Script script) const { return fonts_[chosen_[static_cast<int>(script)]]; }

bool FontSet::hasVariant(int variant) const {
  return variant >= 0 && static_cast<size_t>(variant) < variants_.size() && variants_[variant] >= 0;
}

std::vector<const Font*> FontSet::chain(Script script, int variant) const {
  std::vector<const Font*> out;
  int first = hasVariant(variant) ? variants_[variant] : chosen_[static_cast<int>(script)];
  out.push_back(&fonts_[first]);
  for (size_t i = 0; i < fonts_.size(); ++i)
    if (static_cast<int>(i) != first && fonts_[i].fallback) out.push_back(&fonts_[i]);
  return out;
}

}  // namespace tambrel
