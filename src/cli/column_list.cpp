#include "cli/column_list.h"

#include <sstream>

#include "cli/user_error.h"

namespace kurv::cli {

std::vector<std::string> splitWords(const std::vector<std::string>& values) {
  std::vector<std::string> words;
  for (const auto& value : values) {
    std::istringstream in(value);
    std::string word;
    while (in >> word) words.push_back(word);
  }
  return words;
}

std::vector<std::size_t> resolveColumns(const DataTable& table,
                                        const std::vector<std::string>& words,
                                        const std::string& option) {
  std::vector<std::size_t> columns;
  for (const auto& word : splitWords(words)) {
    // A name that exists as written wins, so a column named "a-b" is found.
    if (auto column = table.find(word)) {
      columns.push_back(*column);
      continue;
    }
    const auto dash = word.find('-');
    if (dash != std::string::npos && dash > 0 && dash + 1 < word.size()) {
      const std::string first = word.substr(0, dash);
      const std::string last = word.substr(dash + 1);
      const auto from = table.find(first);
      const auto to = table.find(last);
      if (!from || !to)
        throw UserError(option + ": unknown column '" + (!from ? first : last) + "' in range '" +
                        word + "' (" + table.source + ")");
      if (*to < *from)
        throw UserError(option + ": range '" + word + "' runs backwards: '" + last +
                        "' comes before '" + first + "' in " + table.source);
      for (std::size_t c = *from; c <= *to; ++c) columns.push_back(c);
      continue;
    }
    throw UserError(option + ": unknown column '" + word + "' (" + table.source + ")");
  }
  return columns;
}

}  // namespace kurv::cli
