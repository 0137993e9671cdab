#pragma once
// A data set as read from a file: named columns, one row per subject.
//
// Numbers are kept as doubles with missing cells set to the host's missing
// value 2^1023. A column may also hold cells that are not numbers (a CSV
// cell such as "abc", a string variable of a .dta file); that is only an
// error when the column is used where numbers are needed, so an identifier
// column of text is fine.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kurv::cli {

// The host's missing value, 2^1023; every value at or above it is missing.
inline constexpr double kMissing = 8.98846567431158e307;

inline bool isMissing(double value) { return value >= kMissing; }

// The first cell of a column that is not a number, for the error message.
struct BadCell {
  std::size_t line = 0;  // line of the file (CSV) or 1-based row (.dta)
  std::string text;
};

struct DataTable {
  std::string source;                           // file name, for messages
  std::vector<std::string> names;               // column names in file order
  std::vector<std::vector<double>> values;      // [column][row]
  std::vector<std::vector<std::string>> text;   // [column][row], the cell as written
  std::vector<std::optional<BadCell>> badCell;  // first non-number cell per column
  std::vector<bool> isString;                   // a string variable of a .dta file

  std::size_t columnCount() const { return names.size(); }
  std::size_t rowCount() const { return values.empty() ? 0 : values.front().size(); }
  std::optional<std::size_t> find(std::string_view name) const;

  // Appends an empty column; returns its index.
  std::size_t addColumn(const std::string& name, bool stringColumn = false);
};

// The values of a column that must hold numbers; `use` names the option
// that needs them ("--var"). Throws UserError when the column holds text.
const std::vector<double>& numericColumn(const DataTable& table, std::size_t column,
                                         const std::string& use);

}  // namespace kurv::cli
