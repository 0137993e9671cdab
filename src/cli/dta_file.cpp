#include "cli/dta_file.h"

#include <readstat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <memory>
#include <string>

#include "cli/number_text.h"
#include "cli/user_error.h"

namespace kurv::cli {
namespace {

struct ReadState {
  DataTable* table = nullptr;
  std::string failure;
};

int onVariable(int index, readstat_variable_t* variable, const char*, void* ctx) {
  auto& state = *static_cast<ReadState*>(ctx);
  // A damaged file can give a variable no name (ReadStat then hands back a
  // null pointer): such a column could never be asked for, so the file is
  // refused, as a CSV header with an empty name is.
  const char* name = readstat_variable_get_name(variable);
  if (name == nullptr || *name == '\0') {
    state.failure = "variable " + std::to_string(index + 1) + " has no name";
    return READSTAT_HANDLER_ABORT;
  }
  const bool isString = readstat_variable_get_type_class(variable) == READSTAT_TYPE_CLASS_STRING;
  const std::size_t column = state.table->addColumn(name, isString);
  if (static_cast<std::size_t>(index) != column) {
    state.failure = "variables arrive out of order";
    return READSTAT_HANDLER_ABORT;
  }
  return READSTAT_HANDLER_OK;
}

// The number a numeric value holds, whatever its storage type.
double numericValue(readstat_value_t value) {
  switch (readstat_value_type(value)) {
    case READSTAT_TYPE_INT8: return readstat_int8_value(value);
    case READSTAT_TYPE_INT16: return readstat_int16_value(value);
    case READSTAT_TYPE_INT32: return readstat_int32_value(value);
    case READSTAT_TYPE_FLOAT: return readstat_float_value(value);
    default: return readstat_double_value(value);
  }
}

int onValue(int row, readstat_variable_t* variable, readstat_value_t value, void* ctx) {
  auto& state = *static_cast<ReadState*>(ctx);
  const auto column = static_cast<std::size_t>(readstat_variable_get_index(variable));
  if (row < 0 || column >= state.table->columnCount()) return READSTAT_HANDLER_ABORT;
  auto& values = state.table->values[column];
  auto& text = state.table->text[column];
  const auto r = static_cast<std::size_t>(row);
  // Columns grow row by row as values arrive rather than being sized by the
  // row count the header states: a damaged header can claim billions of rows
  // in a few bytes, and only rows that hold values cost memory this way.
  if (r >= values.size()) {
    values.resize(r + 1, kMissing);
    text.resize(r + 1);
  }
  if (readstat_value_type_class(value) == READSTAT_TYPE_CLASS_STRING) {
    const char* s = readstat_string_value(value);
    text[r] = std::string(s ? s : "");
    return READSTAT_HANDLER_OK;
  }
  if (readstat_value_is_missing(value, variable)) {
    values[r] = kMissing;
    text[r] = std::string(1, '.');
    return READSTAT_HANDLER_OK;
  }
  const double x = numericValue(value);
  values[r] = std::isfinite(x) && x < kMissing ? x : kMissing;
  text[r] = cellText(values[r]);
  return READSTAT_HANDLER_OK;
}

struct ParserDeleter {
  void operator()(readstat_parser_t* p) const { readstat_parser_free(p); }
};
struct WriterDeleter {
  void operator()(readstat_writer_t* w) const { readstat_writer_free(w); }
};
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

ssize_t writeBytes(const void* data, size_t length, void* ctx) {
  auto* file = static_cast<std::FILE*>(ctx);
  return std::fwrite(data, 1, length, file) == length ? static_cast<ssize_t>(length) : -1;
}

}  // namespace

DataTable readDtaFile(const std::string& path) {
  {
    std::unique_ptr<std::FILE, FileCloser> probe(std::fopen(path.c_str(), "rb"));
    if (!probe) throw UserError("cannot open " + path + ": " + std::strerror(errno));
  }
  DataTable table;
  table.source = path;
  ReadState state;
  state.table = &table;
  std::unique_ptr<readstat_parser_t, ParserDeleter> parser(readstat_parser_init());
  readstat_set_variable_handler(parser.get(), onVariable);
  readstat_set_value_handler(parser.get(), onValue);
  const readstat_error_t status = readstat_parse_dta(parser.get(), path.c_str(), &state);
  if (status != READSTAT_OK)
    throw UserError(path + ": not a readable Stata .dta file (" +
                    (state.failure.empty() ? readstat_error_message(status) : state.failure) + ")");
  // Columns whose values never arrived (no rows) stay consistent in length.
  std::size_t rows = 0;
  for (const auto& column : table.values) rows = std::max(rows, column.size());
  for (std::size_t c = 0; c < table.columnCount(); ++c) {
    table.values[c].resize(rows, kMissing);
    table.text[c].resize(rows);
  }
  return table;
}

void writeDtaFile(const DataTable& table, const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) throw UserError("cannot write " + path + ": " + std::strerror(errno));
  std::unique_ptr<readstat_writer_t, WriterDeleter> writer(readstat_writer_init());
  readstat_set_data_writer(writer.get(), writeBytes);
  std::vector<readstat_variable_t*> variables;
  for (std::size_t c = 0; c < table.columnCount(); ++c) {
    std::size_t width = 1;
    if (table.isString[c])
      for (const auto& s : table.text[c]) width = std::max(width, s.size());
    variables.push_back(readstat_add_variable(
        writer.get(), table.names[c].c_str(),
        table.isString[c] ? READSTAT_TYPE_STRING : READSTAT_TYPE_DOUBLE, width));
  }
  auto check = [&](readstat_error_t status) {
    if (status != READSTAT_OK)
      throw UserError("cannot write " + path + ": " + readstat_error_message(status));
  };
  check(readstat_begin_writing_dta(writer.get(), file.get(), static_cast<long>(table.rowCount())));
  for (std::size_t r = 0; r < table.rowCount(); ++r) {
    check(readstat_begin_row(writer.get()));
    for (std::size_t c = 0; c < table.columnCount(); ++c) {
      if (table.isString[c])
        check(readstat_insert_string_value(writer.get(), variables[c], table.text[c][r].c_str()));
      else if (isMissing(table.values[c][r]))
        check(readstat_insert_missing_value(writer.get(), variables[c]));
      else
        check(readstat_insert_double_value(writer.get(), variables[c], table.values[c][r]));
    }
    check(readstat_end_row(writer.get()));
  }
  check(readstat_end_writing(writer.get()));
  if (std::fflush(file.get()) != 0) throw UserError("cannot write " + path);
}

}  // namespace kurv::cli
