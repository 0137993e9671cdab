// The CSV reader: quoting, missing markers, blank lines, bad cells and
// malformed files.
#include <gtest/gtest.h>

#include "cli/csv_reader.h"
#include "cli/user_error.h"

using kurv::cli::DataTable;
using kurv::cli::kMissing;
using kurv::cli::parseCsv;
using kurv::cli::UserError;

namespace {

std::string errorOf(const std::string& text) {
  try {
    parseCsv(text, "d.csv");
  } catch (const UserError& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(CsvReader, QuotedFieldsFollowRfc4180) {
  const DataTable t = parseCsv(
      "id,\"na,me\",y\r\n"
      "\"a \"\"quoted\"\" id\",\"x,1\",\"2.5\"\r\n"
      "\"two\nlines\",plain, 3 \r\n",
      "d.csv");
  ASSERT_EQ(t.names, (std::vector<std::string>{"id", "na,me", "y"}));
  ASSERT_EQ(t.rowCount(), 2u);
  EXPECT_EQ(t.text[0][0], "a \"quoted\" id");
  EXPECT_EQ(t.text[1][0], "x,1");
  EXPECT_EQ(t.values[2][0], 2.5);  // a quoted number is a number
  EXPECT_EQ(t.text[0][1], "two\nlines");
  EXPECT_EQ(t.values[2][1], 3.0);  // blanks around a number are ignored
  EXPECT_TRUE(t.badCell[0]);       // text ids are kept, and remembered as not numbers
  EXPECT_EQ(t.badCell[0]->line, 2u);
  EXPECT_FALSE(t.badCell[2]);
}

TEST(CsvReader, MissingMarkersAndBlankLines) {
  const DataTable t = parseCsv("\n\na,b,c,d\n\n1,,.,NA\n\n\"\",\" . \",-2e3,+4\n", "d.csv");
  ASSERT_EQ(t.rowCount(), 2u);
  EXPECT_EQ(t.values[0][0], 1.0);
  for (int c = 1; c <= 3; ++c) EXPECT_EQ(t.values[c][0], kMissing) << c;
  EXPECT_EQ(t.values[0][1], kMissing);  // a quoted empty field
  EXPECT_EQ(t.values[1][1], kMissing);  // a quoted "." marker
  EXPECT_EQ(t.values[2][1], -2000.0);
  EXPECT_EQ(t.values[3][1], 4.0);
  for (const auto& bad : t.badCell) EXPECT_FALSE(bad);
}

TEST(CsvReader, ByteOrderMarkAndNoFinalLineBreak) {
  const DataTable t = parseCsv("\xEF\xBB\xBFy1,y2\n1,2", "d.csv");
  EXPECT_EQ(t.names.front(), "y1");
  EXPECT_EQ(t.values[1][0], 2.0);
}

TEST(CsvReader, CellsThatAreNotNumbers) {
  // Anything but a finite decimal below the host's missing value is a bad
  // cell: text, infinities, not-a-number, "+-1", numbers with trailing text,
  // and values at the missing value 2^1023 or above.
  for (const char* cell : {"abc", "inf", "nan", "1e400", "9e307", "+-1", "1.5x", "0x10", "1,5"}) {
    const std::string text = std::string("y\n2\n\"") + cell + "\"\n";
    const DataTable t = parseCsv(text, "d.csv");
    ASSERT_TRUE(t.badCell[0]) << cell;
    EXPECT_EQ(t.badCell[0]->line, 3u) << cell;
    EXPECT_EQ(t.badCell[0]->text, cell);
  }
  double v = 0;
  EXPECT_TRUE(kurv::cli::parseCell("8.98e307", v));  // just below the missing value
  EXPECT_EQ(v, 8.98e307);
}

TEST(CsvReader, MalformedFilesAreRejectedWithTheirLine) {
  EXPECT_EQ(errorOf("a,b\n1,2\n3\n"), "d.csv, line 3: 1 fields where the header has 2");
  EXPECT_EQ(errorOf("a,b\n1,\"2\n"), "d.csv, line 2: a quoted field is not closed");
  EXPECT_EQ(errorOf("a,b\n1,\"2\"x\n"), "d.csv, line 2: characters after the closing quote of a field");
  EXPECT_EQ(errorOf("a,,b\n"), "d.csv: column 2 has no name in the header row");
  EXPECT_EQ(errorOf("a,b,a\n"), "d.csv: the header names column 'a' twice");
  EXPECT_EQ(errorOf("\n\n"), "d.csv: the file is empty (no header row)");
}

TEST(CsvReader, UnreadableFile) {
  try {
    kurv::cli::readCsvFile("/nonexistent/d.csv");
    FAIL();
  } catch (const UserError& e) {
    EXPECT_EQ(std::string(e.what()), "cannot open /nonexistent/d.csv: No such file or directory");
  }
}
