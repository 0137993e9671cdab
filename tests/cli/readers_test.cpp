// Reading data: CSV quoting, missing markers, blank lines and bad cells;
// .dta missing values of every kind and string variables; column lists.
#include <gtest/gtest.h>

#include "cli/column_list.h"
#include "cli/csv_reader.h"
#include "cli/dta_file.h"
#include "cli_support.h"

TEST(CsvReader, QuotingMissingMarkersAndBlankLines) {
  const DataTable t = parseCsv("\xEF\xBB\xBF\n\nid,\"na,me\",y,z\r\n\"a \"\"quoted\"\" id\",\"x,1\",\"2.5\",.\r\n\n"
                               "\"two\nlines\",plain, 3 ,NA\n\"\",\" . \",-2e3,+4",  // byte-order mark, no final line break
                               "d.csv");
  ASSERT_EQ(t.names, (std::vector<std::string>{"id", "na,me", "y", "z"}));
  EXPECT_EQ(t.text[0], (std::vector<std::string>{"a \"quoted\" id", "two\nlines", ""}));
  EXPECT_EQ(t.values[2], (std::vector<double>{2.5, 3.0, -2000.0}));  // quoted, blank-padded, exponent
  EXPECT_EQ(t.values[3], (std::vector<double>{kMissing, kMissing, 4.0}));
  EXPECT_EQ(t.values[0][2], kMissing);  // a quoted empty field
  EXPECT_EQ(t.values[1][2], kMissing);  // a quoted "." marker
  ASSERT_TRUE(t.badCell[0]);            // text is kept, and remembered as not a number
  EXPECT_EQ(t.badCell[0]->line, 4u);
  EXPECT_FALSE(t.badCell[2] || t.badCell[3]);
}

TEST(CsvReader, CellsThatAreNotNumbers) {  // malformed files are among the user errors
  // Anything but a finite decimal below the missing value 2^1023 is a bad cell.
  for (const char* cell : {"abc", "inf", "nan", "1e400", "9e307", "+-1", "1.5x", "0x10", "1,5"}) {
    const DataTable t = parseCsv(std::string("y\n2\n\"") + cell + "\"\n", "d.csv");
    ASSERT_TRUE(t.badCell[0]) << cell;
    EXPECT_TRUE(t.badCell[0]->line == 3 && t.badCell[0]->text == cell) << cell;
  }
  double v = 0;
  EXPECT_TRUE(parseCell("8.98e307", v) && v == 8.98e307);  // just below the missing value
}

TEST(DtaFile, SystemAndExtendedMissingValuesOfEveryStorageType) {
  const DataTable t = readDtaFile(fixture("mixed.dta"));  // y, b, s, f, name: cells listed in mixed_dta.c
  const double M = kMissing;  // for the system missing value . and the extended ones .a and .z
  EXPECT_EQ(t.values, (std::vector<std::vector<double>>{{1.25, M, M}, {1, M, 0}, {-300, 7, M}, {0.5, M, 1.1f}, {M, M, M}}));
  EXPECT_EQ(t.text[4], (std::vector<std::string>{"ann", "bo b", ""}));
  EXPECT_EQ(t.isString, (std::vector<bool>{false, false, false, false, true}));
}

TEST(ColumnList, NamesRangesAndWordsInOneValue) {  // its errors are among the user errors
  const DataTable t = parseCsv("id,y1,y2,y3,t-a,t1,t2,t3\n1,2,3,4,5,6,7,8\n", "d.csv");
  EXPECT_EQ(resolveColumns(t, {"y3 y1", "t2", "y2-y2", "t1-t3", "t-a"}, "--var"),
            (std::vector<std::size_t>{3, 1, 6, 2, 5, 6, 7, 4}));  // a name with a dash is found by that name
}
