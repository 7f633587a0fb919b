// The content of the files the interoperability tests exchange with other readers and
// writers: storages, property sets and typed values, described once and checked on both
// sides. Plain data: no engine or Windows types, so that a translation unit using Windows'
// ole32 and one using our engine can share it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace interop {

enum class Kind {
  String,    // VT_LPWSTR
  Integer,   // VT_I8
  Double,    // VT_R8
  FileTime,  // VT_FILETIME (number holds the 64 bits)
  Int32,     // VT_I4
  Bool,      // VT_BOOL (number 0 or 1)
  Short,     // VT_I2
  UInt32,    // VT_UI4
};

struct Value {
  std::string name;      // UTF-8; empty for a value addressed by id
  std::uint32_t id = 0;  // for a value addressed by id
  Kind kind = Kind::String;
  std::string text;
  std::int64_t number = 0;
  double real = 0.0;
};

enum class SetId { Summary, DocSummary, Custom };

struct Guid {
  std::uint32_t data1;
  std::uint16_t data2, data3;
  std::uint8_t data4[8];
};
Guid FormatId(SetId which);

struct Set {
  SetId which;
  std::vector<Value> values;
};

struct Storage {
  std::vector<std::string> path;  // UTF-8 names from the root; empty for the root
  std::vector<Set> sets;
};

// Storages are listed parents first.
struct Model {
  std::vector<Storage> storages;
};

// What our engine writes for ole32 and olefile to read: every kind of value our writer
// produces, names of odd and even length, non-ASCII names and text, a set larger than the
// mini-stream cutoff, hundreds of siblings and a file large enough to need DIFAT sectors.
Model EngineModel();

// What ole32 writes for our engine to read. Wine's ole32 writer cannot store VT_R8 or VT_BOOL
// (the set is unreadable afterwards) and mis-pads dictionary names of odd length, so none of
// these occurs here; it adds types our writer never uses. (VT_BOOL from other writers is
// read in the unit tests' foreign-types fixture.)
Model Ole32Model();

// Names of odd length, which Wine's ole32 writes with stray padding (and then cannot read
// itself): our engine must read them all the same.
Model Ole32OddNamesModel();

// The names below a storage (its storages, not its streams), for the tree check.
std::vector<std::string> ChildStorages(const Model& model, const std::vector<std::string>& path);

std::string Describe(const std::vector<std::string>& path);

}  // namespace interop
