// Column lists: names, ranges, several words in one value, and errors.
#include <gtest/gtest.h>

#include "cli/column_list.h"
#include "cli/csv_reader.h"
#include "cli/user_error.h"

using namespace kurv::cli;

namespace {

const DataTable& table() {
  static const DataTable t = parseCsv("id,y1,y2,y3,t-a,t1,t2,t3\n1,2,3,4,5,6,7,8\n", "d.csv");
  return t;
}

std::string errorOf(const std::vector<std::string>& words) {
  try {
    resolveColumns(table(), words, "--var");
  } catch (const UserError& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(ColumnList, NamesRangesAndWordsInOneValue) {
  EXPECT_EQ(resolveColumns(table(), {"y1-y3"}, "--var"), (std::vector<std::size_t>{1, 2, 3}));
  EXPECT_EQ(resolveColumns(table(), {"y3 y1", "t2"}, "--var"), (std::vector<std::size_t>{3, 1, 6}));
  EXPECT_EQ(resolveColumns(table(), {"y2-y2", "t1-t3"}, "--var"), (std::vector<std::size_t>{2, 5, 6, 7}));
  // A column whose own name holds a dash is found by that name.
  EXPECT_EQ(resolveColumns(table(), {"t-a"}, "--var"), (std::vector<std::size_t>{4}));
  EXPECT_TRUE(resolveColumns(table(), {}, "--var").empty());
}

TEST(ColumnList, UnknownColumnsAndBackwardRanges) {
  EXPECT_EQ(errorOf({"y4"}), "--var: unknown column 'y4' (d.csv)");
  EXPECT_EQ(errorOf({"y1-y9"}), "--var: unknown column 'y9' in range 'y1-y9' (d.csv)");
  EXPECT_EQ(errorOf({"y3-y1"}), "--var: range 'y3-y1' runs backwards: 'y1' comes before 'y3' in d.csv");
  EXPECT_EQ(errorOf({"Y1"}), "--var: unknown column 'Y1' (d.csv)");  // names are case-sensitive
}
