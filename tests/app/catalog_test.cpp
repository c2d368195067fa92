// The compiled-in catalogue as the gallery reads it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "app/catalog.h"

using namespace tambrel;
using namespace tambrel::app;

namespace {

class CatalogTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    TemplateCatalog.redim(kTemplateCount);
    loadTemplateCatalog();
  }
};

TEST_F(CatalogTest, TextIsTheExpectedSizeWithoutTrailingSeparator) {
  EXPECT_EQ(CATALOG_TEXT_SIZE, 12813u);
  EXPECT_EQ(std::strlen(CATALOG_TEXT), 12813u);
  EXPECT_NE(CATALOG_TEXT[12812], '\n');
}

TEST_F(CatalogTest, TellingRows) {
  struct Row {
    int position;
    const char* id;
    const char* title;
    const char* file;
  };
  const Row rows[] = {
      {1, "369", "霸气无比的红色在线印章", "C_1350613394995.png"},
      {2, "368", "很酷的简约好看印章", "C_1350448345617.png"},
      {3, "367", "爱国人士专用在线图章", "C_1350284084675.png"},
      {243, "124", "双云朵的印章（只填2字）", "C_1307993876968.png"},
      {244, "122", "阴文、淡古、长印", "C_1297909472318.jpg"},
      {278, "88", "阳文、大篆、方印", "C_1297846031677.jpg"},
      {279, "87", "阳文、小篆、方印", "1297845514265.gif"},
      {281, "85", "阴文、小篆、方印", "1297844481416.gif"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.position);
    const StampTemplate& t = TemplateCatalog[r.position];
    EXPECT_STREQ(t.id.c_str(), r.id);
    EXPECT_STREQ(t.title.c_str(), r.title);  // byte for byte, full-width brackets included
    EXPECT_STREQ(t.thumbnailFile.c_str(), r.file);
  }
}

TEST_F(CatalogTest, IdentifiersFallWithoutTheFourGaps) {
  std::set<int> missing = {360, 294, 135, 123};
  int expected = 369;
  for (int i = 1; i <= kTemplateCount; ++i, --expected) {
    while (missing.count(expected)) --expected;
    ASSERT_EQ(std::stoi(TemplateCatalog[i].id.c_str()), expected) << "position " << i;
  }
  EXPECT_STREQ(TemplateCatalog[9].id.c_str(), "361");
  EXPECT_STREQ(TemplateCatalog[10].id.c_str(), "359");
}

TEST_F(CatalogTest, FileNameRuns) {
  for (int i = 1; i <= kTemplateCount; ++i) {
    SCOPED_TRACE(i);
    const std::string f = TemplateCatalog[i].thumbnailFile.c_str();
    const char* ext = i <= 243 ? ".png" : i <= 278 ? ".jpg" : ".gif";
    const std::string prefix = i <= 278 ? "C_" : "";
    ASSERT_EQ(f.size(), prefix.size() + 13 + 4);
    EXPECT_EQ(f.substr(0, prefix.size()), prefix);
    EXPECT_EQ(f.substr(f.size() - 4), ext);  // the last record has no stray bytes
    for (char c : f.substr(prefix.size(), 13)) EXPECT_TRUE(c >= '0' && c <= '9');
  }
}

TEST(CatalogLoader, ShortTextIsAnArrayIndexError) {
  EXPECT_EXIT(
      {
        TemplateCatalog.redim(kTemplateCount);
        loadTemplateCatalogFrom("1$a$b\r\n2$c$d");
      },
      testing::ExitedWithCode(0), testing::HasSubstr("program internal error number is 1."));
  EXPECT_EXIT(
      {
        TemplateCatalog.redim(kTemplateCount);
        loadTemplateCatalogFrom("1$only-two-fields");
      },
      testing::ExitedWithCode(0), testing::HasSubstr("program internal error number is 1."));
}

}  // namespace
