#include "cli/csv_reader.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "cli/user_error.h"

namespace kurv::cli {
namespace {

std::string_view trimBlanks(std::string_view s) {
  const char* blanks = " \t";
  const auto first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(blanks);
  return s.substr(first, last - first + 1);
}

struct Record {
  std::vector<std::string> fields;
  std::size_t line = 0;  // line on which the record starts
  bool blank = false;    // an empty line: no characters at all
};

// Splits the text into records, one field list each. A small state machine
// over the characters: outside quotes a comma ends a field and a line break
// ends the record; a quote at the start of a field opens a quoted field.
class CsvScanner {
 public:
  CsvScanner(std::string_view text, const std::string& source) : text_(text), source_(source) {
    // A UTF-8 byte-order mark written by some spreadsheet programs.
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") text_.remove_prefix(3);
  }

  bool next(Record& record) {
    if (pos_ >= text_.size()) return false;
    record = Record{};
    record.line = line_;
    std::string field;
    bool anyChar = false;
    while (true) {
      if (pos_ >= text_.size()) {
        record.fields.push_back(std::move(field));
        break;
      }
      const char c = text_[pos_];
      if (c == '\n' || c == '\r') {
        pos_ += (c == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') ? 2 : 1;
        ++line_;
        record.fields.push_back(std::move(field));
        break;
      }
      anyChar = true;
      if (c == ',') {
        record.fields.push_back(std::move(field));
        field.clear();
        ++pos_;
      } else if (c == '"' && trimBlanks(field).empty()) {
        field = readQuoted(record.line);
      } else {
        field += c;
        ++pos_;
      }
    }
    record.blank = !anyChar;
    return true;
  }

 private:
  // Reads a quoted field starting at the opening quote; leaves pos_ at the
  // comma or line break that follows the closing quote.
  std::string readQuoted(std::size_t startLine) {
    std::string value;
    ++pos_;
    while (true) {
      if (pos_ >= text_.size())
        throw UserError(source_ + ", line " + std::to_string(startLine) +
                        ": a quoted field is not closed");
      const char c = text_[pos_];
      if (c == '"') {
        if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '"') {
          value += '"';
          pos_ += 2;
          continue;
        }
        ++pos_;
        break;
      }
      if (c == '\n') ++line_;
      value += c;
      ++pos_;
    }
    // Only blanks may stand between the closing quote and the separator.
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    if (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '\n' && text_[pos_] != '\r')
      throw UserError(source_ + ", line " + std::to_string(line_) +
                      ": characters after the closing quote of a field");
    return value;
  }

  std::string_view text_;
  const std::string& source_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
};

}  // namespace

bool parseCell(std::string_view cell, double& value) {
  cell = trimBlanks(cell);
  if (cell.empty() || cell == "." || cell == "NA") {
    value = kMissing;
    return true;
  }
  // from_chars takes no explicit plus sign; allow one, but not "+-1".
  if (cell.front() == '+') {
    cell.remove_prefix(1);
    if (cell.empty() || cell.front() == '+' || cell.front() == '-') return false;
  }
  double parsed = 0.0;
  const auto [end, ec] = std::from_chars(cell.data(), cell.data() + cell.size(), parsed);
  if (ec != std::errc() || end != cell.data() + cell.size()) return false;
  // Infinities, not-a-number and values in the host's missing range are
  // not measurements.
  if (!std::isfinite(parsed) || parsed >= kMissing) return false;
  value = parsed;
  return true;
}

DataTable parseCsv(std::string_view text, const std::string& source) {
  DataTable table;
  table.source = source;
  CsvScanner scanner(text, source);
  Record record;
  bool haveHeader = false;
  while (scanner.next(record)) {
    if (record.blank) continue;
    if (!haveHeader) {
      for (std::size_t c = 0; c < record.fields.size(); ++c) {
        const std::string name(trimBlanks(record.fields[c]));
        if (name.empty())
          throw UserError(source + ": column " + std::to_string(c + 1) +
                          " has no name in the header row");
        if (table.find(name))
          throw UserError(source + ": the header names column '" + name + "' twice");
        table.addColumn(name);
      }
      haveHeader = true;
      continue;
    }
    if (record.fields.size() != table.columnCount())
      throw UserError(source + ", line " + std::to_string(record.line) + ": " +
                      std::to_string(record.fields.size()) + " fields where the header has " +
                      std::to_string(table.columnCount()));
    for (std::size_t c = 0; c < record.fields.size(); ++c) {
      double value = kMissing;
      if (!parseCell(record.fields[c], value) && !table.badCell[c])
        table.badCell[c] = BadCell{record.line, std::string(trimBlanks(record.fields[c]))};
      table.values[c].push_back(value);
      table.text[c].push_back(std::string(trimBlanks(record.fields[c])));
    }
  }
  if (!haveHeader) throw UserError(source + ": the file is empty (no header row)");
  return table;
}

DataTable readCsvFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw UserError("cannot open " + path + ": " + std::strerror(errno));
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) throw UserError("cannot read " + path);
  return parseCsv(buffer.str(), path);
}

}  // namespace kurv::cli
