// Stata .dta files: missing values of every kind, storage types, string
// variables, unreadable files, and the round trip through the writer.
#include <gtest/gtest.h>
#include <readstat.h>

#include <cstdio>

#include "cli/csv_reader.h"
#include "cli/data_file.h"
#include "cli/dta_file.h"
#include "cli/engine_call.h"
#include "cli/user_error.h"
#include "cli_test_support.h"

using namespace kurv::cli;
using kurv::cli::testing::TempDir;
using kurv::cli::testing::writeFile;

namespace {

ssize_t writeToFile(const void* data, size_t length, void* ctx) {
  return std::fwrite(data, 1, length, static_cast<std::FILE*>(ctx)) == length ? static_cast<ssize_t>(length) : -1;
}

// A .dta file written directly with ReadStat: a double with a system
// missing value and an extended missing value ".a", a byte, a 16-bit and a
// float variable, and a string variable.
void writeMixedDta(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  readstat_writer_t* w = readstat_writer_init();
  readstat_set_data_writer(w, writeToFile);
  auto* y = readstat_add_variable(w, "y", READSTAT_TYPE_DOUBLE, 0);
  auto* b = readstat_add_variable(w, "b", READSTAT_TYPE_INT8, 0);
  auto* s = readstat_add_variable(w, "s", READSTAT_TYPE_INT16, 0);
  auto* f = readstat_add_variable(w, "f", READSTAT_TYPE_FLOAT, 0);
  auto* name = readstat_add_variable(w, "name", READSTAT_TYPE_STRING, 8);
  ASSERT_EQ(readstat_begin_writing_dta(w, file, 3), READSTAT_OK);
  readstat_begin_row(w);
  readstat_insert_double_value(w, y, 1.25);
  readstat_insert_int8_value(w, b, 1);
  readstat_insert_int16_value(w, s, -300);
  readstat_insert_float_value(w, f, 0.5f);
  readstat_insert_string_value(w, name, "ann");
  readstat_end_row(w);
  readstat_begin_row(w);
  readstat_insert_missing_value(w, y);
  readstat_insert_missing_value(w, b);
  readstat_insert_int16_value(w, s, 7);
  readstat_insert_missing_value(w, f);
  readstat_insert_string_value(w, name, "bo b");
  readstat_end_row(w);
  readstat_begin_row(w);
  readstat_insert_tagged_missing_value(w, y, 'a');
  readstat_insert_int8_value(w, b, 0);
  readstat_insert_tagged_missing_value(w, s, 'z');
  readstat_insert_float_value(w, f, 1.1f);
  readstat_insert_string_value(w, name, "");
  readstat_end_row(w);
  ASSERT_EQ(readstat_end_writing(w), READSTAT_OK);
  readstat_writer_free(w);
  std::fclose(file);
}

}  // namespace

TEST(DtaFile, MissingValuesOfEveryKindBecomeTheHostMissingValue) {
  TempDir dir;
  const std::string path = dir.file("mixed.dta");
  writeMixedDta(path);
  const DataTable t = readDtaFile(path);
  ASSERT_EQ(t.names, (std::vector<std::string>{"y", "b", "s", "f", "name"}));
  ASSERT_EQ(t.rowCount(), 3u);
  EXPECT_EQ(t.values[0], (std::vector<double>{1.25, kMissing, kMissing}));  // system and .a
  EXPECT_EQ(t.values[1], (std::vector<double>{1.0, kMissing, 0.0}));
  EXPECT_EQ(t.values[2], (std::vector<double>{-300.0, 7.0, kMissing}));     // .z
  EXPECT_EQ(t.values[3], (std::vector<double>{0.5, kMissing, static_cast<double>(1.1f)}));
  EXPECT_EQ(t.text[4], (std::vector<std::string>{"ann", "bo b", ""}));
  EXPECT_TRUE(t.isString[4]);
  EXPECT_FALSE(t.isString[0]);
}

TEST(DtaFile, StringVariableWhereNumbersAreNeeded) {
  TempDir dir;
  const std::string path = dir.file("mixed.dta");
  writeMixedDta(path);
  const DataTable t = readDtaFile(path);
  try {
    numericColumn(t, 4, "--var");
    FAIL();
  } catch (const UserError& e) {
    EXPECT_EQ(std::string(e.what()), path + ": column 'name' is a string variable, but --var needs numbers");
  }
}

TEST(DtaFile, WriterRoundTripKeepsEveryDoubleAndMissingCell) {
  TempDir dir;
  const DataTable original = parseCsv("id,y1,y2\nA7,0.1,\n\"b,2\",-1e-300,123456.789012345\n", "d.csv");
  DataTable table = original;
  table.isString[0] = true;
  writeDtaFile(table, dir.file("r.dta"));
  const DataTable back = readDtaFile(dir.file("r.dta"));
  EXPECT_EQ(back.names, table.names);
  EXPECT_EQ(back.text[0], table.text[0]);
  EXPECT_EQ(back.values[1], table.values[1]);
  EXPECT_EQ(back.values[2], table.values[2]);
}

TEST(DtaFile, CsvAndDtaFixturesHoldTheSameData) {
  const DataTable csv = readDataFile(kurv::cli::testing::fixture("small.csv"));
  const DataTable dta = readDataFile(kurv::cli::testing::fixture("small.dta"));
  ASSERT_EQ(csv.names, dta.names);
  ASSERT_EQ(csv.rowCount(), 150u);
  std::size_t missing = 0;
  for (std::size_t c = 0; c < csv.columnCount(); ++c) {
    EXPECT_EQ(csv.values[c], dta.values[c]) << csv.names[c];
    for (double v : csv.values[c]) missing += isMissing(v);
  }
  EXPECT_GT(missing, 10u);  // the fixture does exercise missing measurements
}

TEST(DtaFile, UnreadableFiles) {
  TempDir dir;
  writeFile(dir.file("fake.dta"), "id,y\n1,2\n");
  auto errorOf = [](const std::string& path) -> std::string {
    try {
      readDataFile(path);
    } catch (const UserError& e) {
      return e.what();
    }
    return "";
  };
  EXPECT_EQ(errorOf(dir.file("fake.dta")).rfind(dir.file("fake.dta") + ": not a readable Stata .dta file (", 0), 0u);
  EXPECT_EQ(errorOf(dir.file("none.dta")), "cannot open " + dir.file("none.dta") + ": No such file or directory");
  EXPECT_EQ(errorOf(dir.file("data.txt")), "DATA must be a .csv or .dta file: " + dir.file("data.txt"));
  EXPECT_EQ(errorOf(dir.path().string() + "/"), "DATA must be a .csv or .dta file: " + dir.path().string() + "/");
}
