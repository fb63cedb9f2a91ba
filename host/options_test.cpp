#include "host/options.h"

#include <gtest/gtest.h>

#include "host/core.h"

namespace qev {
namespace {

TEST(SaneMapping, SourcesAreSortedAsBackendsSpellThem) {
  struct Case {
    const char* source;
    SourceKind kind;
  } cases[] = {
      {"Flatbed", SourceKind::flatbed},
      {"FlatBed", SourceKind::flatbed},
      {"Normal", SourceKind::flatbed},
      {"Document Table", SourceKind::flatbed},
      {"ADF", SourceKind::feeder},
      {"ADF Front", SourceKind::feeder},
      {"Automatic Document Feeder", SourceKind::feeder},
      {"Automatic Document Feeder(left aligned)", SourceKind::feeder},
      {"ADF Duplex", SourceKind::duplex},
      {"Duplex", SourceKind::duplex},
      {"Transparency Adapter", SourceKind::other},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(sourceKind(c.source), c.kind);
  }
}

TEST(SaneMapping, UnitsComeFromSourcesOrTheDeviceType) {
  auto units = [](std::optional<std::vector<std::string>> list, const char* type) {
    std::optional<Sources> sources;
    if (list) sources = sortSources(*list);
    return unitTypes(sources, type);
  };
  using U = std::vector<UnitType>;
  EXPECT_EQ(units({{"Flatbed", "ADF Front", "ADF Duplex"}}, "flatbed scanner"),
            (U{flatbedUnit, feederUnit}));
  EXPECT_EQ(units({{"ADF Duplex"}}, "flatbed scanner"), (U{feederUnit}));  // a duplex-only feeder
  EXPECT_EQ(units({{"Transparency Adapter"}}, "flatbed scanner"), (U{flatbedUnit}));
  EXPECT_EQ(units(std::nullopt, "sheetfed scanner"), (U{feederUnit}));
  EXPECT_EQ(units(std::nullopt, "virtual device"), (U{flatbedUnit}));
  // A busy or failed probe, or no source option: the listing's type string decides.
  EXPECT_EQ(units(std::vector<std::string>{}, "sheetfed scanner"), (U{feederUnit}));
  Sources s = sortSources({"Flatbed", "ADF Front", "ADF Back", "ADF Duplex"});
  EXPECT_EQ(s.feeder, "ADF Front");
  EXPECT_EQ(s.duplex, "ADF Duplex");
}

// The type strings of SANE's listings, as the backends write them.
TEST(SaneMapping, UnitsAreGuessedFromTypesThatTellThem) {
  using U = std::vector<UnitType>;
  struct Case {
    const char* type;
    U units;
  } cases[] = {
      {"flatbed scanner", {flatbedUnit}},  // plustek, avision; also genesys, epson2, kodakaio
      {"sheetfed scanner", {feederUnit}},  // plustek, avision
      {"film scanner", {flatbedUnit}},     // avision: no feeder
      {"flatbed or ADF scanner", {flatbedUnit, feederUnit}},  // escl by default
      {"ADF scanner", {feederUnit}},                          // escl
      {"Workgroup scanner", {flatbedUnit}},                   // hp5590: cannot tell
      {"multi-function peripheral", {flatbedUnit}},
      {"all-in-one", {flatbedUnit}},
      {"ESC/I-2", {flatbedUnit}},
      {"", {flatbedUnit}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    EXPECT_EQ(unitTypes(std::nullopt, c.type), c.units);
  }
}

TEST(SaneMapping, AdfModeChoosesOneSideOrBoth) {
  std::vector<std::string> modes = {"Simplex", "Duplex"};
  EXPECT_EQ(adfMode(modes, true), "Duplex");
  EXPECT_EQ(adfMode(modes, false), "Simplex");
  EXPECT_EQ(adfMode({"Simplex"}, true), std::nullopt);
  EXPECT_EQ(adfMode({"Duplex"}, false), std::nullopt);
}

TEST(SaneMapping, FeederPagesHoldA4AndLetter) {
  struct Case {
    const char* name;
    double current, min, max, wanted, value;
  } cases[] = {
      {"Letter default, A4 height fits", 279.4, 0, 5600, pageHeight, 297},
      {"Letter width is wide enough", 215.9, 0, 221, pageWidth, 215.9},
      {"a short feeder: its maximum", 279.4, 0, 280, pageHeight, 280},
      {"a narrow feeder: its maximum", 210, 0, 212, pageWidth, 212},
      {"a larger page set already stays", 355.6, 0, 5600, pageHeight, 355.6},
      {"a minimum above the wanted size", 300, 320, 400, pageHeight, 320},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_DOUBLE_EQ(atLeast(c.current, {c.min, c.max}, c.wanted), c.value);
  }
}

TEST(SaneMapping, ModesFollowThePixelDataType) {
  struct Case {
    std::vector<std::string> modes;
    PixelType pixels;
    std::optional<std::string> mode;
  } cases[] = {
      {{"Lineart", "Gray", "Color"}, PixelType::rgb, "Color"},
      {{"Binary", "Gray", "24bit Color"}, PixelType::rgb, "24bit Color"},
      {{"Lineart", "Gray"}, PixelType::rgb, "Gray"},  // no colour: gray
      {{"Lineart", "True Gray", "Color"}, PixelType::gray, "True Gray"},
      {{"Lineart", "Gray", "Color"}, PixelType::blackAndWhite, "Lineart"},
      {{"Gray", "Color"}, PixelType::blackAndWhite, "Gray"},  // black and white as one-bit gray
      {{"Halftone"}, PixelType::rgb, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.modes.back() + " " + std::to_string(static_cast<int>(c.pixels)));
    EXPECT_EQ(modeFor(c.modes, c.pixels), c.mode);
  }
}

TEST(SaneMapping, ResolutionsOfListsAndRanges) {
  SANE_Word list[] = {3, 150, 300, 600};
  SANE_Option_Descriptor words{};
  words.type = SANE_TYPE_INT;
  words.constraint_type = SANE_CONSTRAINT_WORD_LIST;
  words.constraint.word_list = list;
  Resolutions r = resolutionsOf(words);
  EXPECT_TRUE(r.contains(300) && !r.contains(200));

  SANE_Range any{SANE_FIX(50), SANE_FIX(1200), 0};  // quant 0: any value
  SANE_Option_Descriptor fixed{};
  fixed.type = SANE_TYPE_FIXED;
  fixed.constraint_type = SANE_CONSTRAINT_RANGE;
  fixed.constraint.range = &any;
  r = resolutionsOf(fixed);
  EXPECT_TRUE(r.contains(50) && r.contains(77) && r.contains(1200) && !r.contains(1201));

  SANE_Range stepped{100, 600, 100};
  SANE_Option_Descriptor range{};
  range.type = SANE_TYPE_INT;
  range.constraint_type = SANE_CONSTRAINT_RANGE;
  range.constraint.range = &stepped;
  r = resolutionsOf(range);
  EXPECT_EQ(r.atLeast(250), 300);
}

}  // namespace
}  // namespace qev
