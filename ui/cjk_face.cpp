#include "ui/cjk_face.h"

#include <fontconfig/fontconfig.h>

#include <array>

namespace pennacle {
namespace {

// The family fontconfig picks for `pattern_text`, when the face it picks covers zh-cn; an empty
// string otherwise (fontconfig falls back to any face when nothing covers the language).
QString covering_family(const char* pattern_text) {
  QString family;
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(pattern_text));
  if (pattern == nullptr) return family;
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  if (match != nullptr) {
    FcLangSet* langs = nullptr;
    FcChar8* name = nullptr;
    if (FcPatternGetLangSet(match, FC_LANG, 0, &langs) == FcResultMatch &&
        FcLangSetHasLang(langs, reinterpret_cast<const FcChar8*>("zh-cn")) == FcLangEqual &&
        FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch) {
      family = QString::fromUtf8(reinterpret_cast<const char*>(name));
    }
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pattern);
  return family;
}

QString find_face() {
  if (FcInit() == FcFalse) return {};
  for (const char* pattern : std::array{"serif:lang=zh-cn", "sans-serif:lang=zh-cn"}) {
    QString family = covering_family(pattern);
    if (!family.isEmpty()) return family;
  }
  return {};
}

}  // namespace

const QString& gb2312_default_face() {
  static const QString kFace = find_face();
  return kFace;
}

}  // namespace pennacle
