#include "cli/data_table.h"

#include "cli/user_error.h"

namespace kurv::cli {

std::optional<std::size_t> DataTable::find(std::string_view name) const {
  for (std::size_t c = 0; c < names.size(); ++c)
    if (names[c] == name) return c;
  return std::nullopt;
}

std::size_t DataTable::addColumn(const std::string& name, bool stringColumn) {
  names.push_back(name);
  values.emplace_back();
  text.emplace_back();
  badCell.emplace_back();
  isString.push_back(stringColumn);
  return names.size() - 1;
}

const std::vector<double>& numericColumn(const DataTable& table, std::size_t column,
                                         const std::string& use) {
  const std::string& name = table.names.at(column);
  if (table.isString.at(column))
    throw UserError(table.source + ": column '" + name + "' is a string variable, but " + use +
                    " needs numbers");
  if (const auto& bad = table.badCell.at(column))
    throw UserError(table.source + ", line " + std::to_string(bad->line) + ": '" + bad->text +
                    "' in column '" + name + "' is not a number (" + use + " needs numbers)");
  return table.values.at(column);
}

}  // namespace kurv::cli
