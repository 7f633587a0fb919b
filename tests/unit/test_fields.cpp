// The walks over a record's field list that do not touch a file: merging two records of one
// thing, and resetting one.
#include <gtest/gtest.h>

#include <string>

#include "common/KSI_Fields.h"

using namespace kyvex;

namespace {

struct Probe {
  std::string Model;
  std::string Serial;
  std::uint32_t Size = 0;
  bool Removable = false;
  double Voltage = 0;
};

template <class Record, class Visitor>
void VisitProbe(Record& r, Visitor&& v) {
  v(TField{.Name = "Model"}, r.Model);
  v(TField{.Name = "Serial", .MergeFill = true}, r.Serial);
  v(TField{.Name = "Size", .MergeFill = true}, r.Size);
  v(TField{.Name = "Removable", .MergeFill = true}, r.Removable);
  v(TField{.Name = "Voltage"}, r.Voltage);
}

auto Visit = [](auto& record, auto&& visitor) { VisitProbe(record, visitor); };

TEST(FieldList, MergeFillsOnlyMarkedValuesTheTargetLacks) {
  Probe target{.Model = "", .Serial = "", .Size = 512, .Removable = false, .Voltage = 0};
  const Probe source{.Model = "OTHER", .Serial = "S123", .Size = 4096, .Removable = true, .Voltage = 3.3};
  FillEmptyFields(target, source, Visit);
  EXPECT_EQ(target.Model, "") << "not marked: the record's own rules decide";
  EXPECT_EQ(target.Serial, "S123");
  EXPECT_EQ(target.Size, 512u) << "present values stay";
  EXPECT_TRUE(target.Removable);
  EXPECT_EQ(target.Voltage, 0.0);
}

TEST(FieldList, ResetEmptiesEveryValue) {
  Probe p{.Model = "M", .Serial = "S", .Size = 1, .Removable = true, .Voltage = 1.5};
  VisitProbe(p, TFieldReset{});
  EXPECT_EQ(p.Model, "");
  EXPECT_EQ(p.Serial, "");
  EXPECT_EQ(p.Size, 0u);
  EXPECT_FALSE(p.Removable);
  EXPECT_EQ(p.Voltage, 0.0);
}

}  // namespace
