#include "cli/long_format.h"

#include <algorithm>
#include <map>
#include <numeric>

#include "cli/column_list.h"
#include "cli/csv_reader.h"
#include "cli/data_file.h"
#include "cli/user_error.h"

namespace kurv::cli {
namespace {

std::string suffix(int m) { return m == 0 ? std::string() : std::to_string(m + 1); }

bool missingCell(const std::string& text) {
  double v = 0.0;
  return parseCell(text, v) && isMissing(v);
}

// The cell of a column as both forms keep it.
void copyCell(const DataTable& from, std::size_t column, std::size_t row, DataTable& to, std::size_t target) {
  to.values[target].push_back(from.values[column][row]);
  to.text[target].push_back(from.text[column][row]);
}

std::size_t addLike(DataTable& to, const DataTable& from, std::size_t column, const std::string& name) {
  if (to.find(name)) throw UserError("--long: the wide column '" + name + "' would be made twice (rename '" + name + "')");
  const std::size_t c = to.addColumn(name, from.isString[column]);
  to.badCell[c] = from.badCell[column];
  return c;
}

}  // namespace

FitData reshapeLong(const DataTable& table, const FitOptions& options) {
  FitData data{DataTable{}, options};
  DataTable& wide = data.table;
  wide.source = table.source;
  const std::string& idName = options.longId;
  const auto idColumn = resolveColumns(table, {idName}, "--long");
  if (idColumn.size() != 1) throw UserError("--long takes one column, not '" + idName + "'");
  const std::size_t id = idColumn[0];

  // Per-measurement columns, by the option that names them.
  struct PerPeriod {
    std::vector<std::string>* target;
    std::string option;
    bool single;  // one column (outcome, time, exposure)
  };
  std::vector<PerPeriod> perPeriod;
  for (int m = 0; m < 3; ++m) {
    ModelOptions& model = data.options.models[m];
    perPeriod.push_back({&model.var, "--var" + suffix(m), true});
    perPeriod.push_back({&model.indep, "--indep" + suffix(m), true});
    perPeriod.push_back({&model.exposure, "--exposure" + suffix(m), true});
    perPeriod.push_back({&model.tcov, "--tcov" + suffix(m), false});
  }
  perPeriod.push_back({&data.options.dcov, "--dcov", false});
  std::vector<std::vector<std::size_t>> periodColumns;
  for (const auto& p : perPeriod) {
    periodColumns.push_back(resolveColumns(table, *p.target, p.option));
    if (p.single && periodColumns.back().size() > 1)
      throw UserError(p.option + " with --long names one column (each row is one measurement), not " +
                      std::to_string(periodColumns.back().size()));
  }
  // Subject-level columns, checked constant within each subject.
  std::vector<std::pair<std::string, std::size_t>> subjectLevel;
  auto addSubjectLevel = [&](const std::vector<std::string>& words, const std::string& option) {
    for (std::size_t c : resolveColumns(table, words, option))
      if (c != id && std::none_of(subjectLevel.begin(), subjectLevel.end(), [&](const auto& s) { return s.second == c; }))
        subjectLevel.emplace_back(option, c);
  };
  addSubjectLevel(options.models[0].risk, "--risk");
  addSubjectLevel(options.models[1].risk, "--risk2");
  for (const auto& [value, option] : {std::pair{&options.weight, "--weight"}, {&options.ovar, "--ovar"},
                                      {&options.ifColumn, "--if"}, {&options.exempt, "--exempt"}, {&options.id, "--id"}})
    if (!value->empty()) addSubjectLevel({*value}, option);

  // Subjects in the order of their first row; each one's rows.
  std::map<std::string, std::size_t> index;
  std::vector<std::vector<std::size_t>> rows;
  for (std::size_t r = 0; r < table.rowCount(); ++r) {
    const std::string& key = table.text[id][r];
    if (missingCell(key))
      throw UserError("--long " + idName + ": data row " + std::to_string(r + 1) + " has no subject identifier");
    const auto [it, added] = index.emplace(key, rows.size());
    if (added) rows.emplace_back();
    rows[it->second].push_back(r);
  }
  // Each subject's measurements in order of model 1's time.
  if (!periodColumns[1].empty()) {
    const auto& time = numericColumn(table, periodColumns[1][0], "--indep");
    for (auto& subject : rows)
      std::stable_sort(subject.begin(), subject.end(), [&](std::size_t a, std::size_t b) {
        if (isMissing(time[a]) || isMissing(time[b])) return !isMissing(time[a]) && isMissing(time[b]);
        return time[a] < time[b];
      });
  }
  std::size_t periods = 0;
  for (const auto& subject : rows) periods = std::max(periods, subject.size());
  for (const auto& [option, c] : subjectLevel)
    for (const auto& subject : rows)
      for (std::size_t r : subject)
        if (table.text[c][r] != table.text[c][subject.front()] &&
            !(missingCell(table.text[c][r]) && missingCell(table.text[c][subject.front()])))
          throw UserError("--long " + idName + ": subject '" + table.text[id][subject.front()] + "' has different values of '" +
                          table.names[c] + "' (" + option + " needs one value per subject): '" +
                          table.text[c][subject.front()] + "' and '" + table.text[c][r] + "'");

  // The wide table: the ID, the subject-level columns, then c_1..c_T of
  // every per-measurement column.
  const std::size_t wideId = addLike(wide, table, id, idName);
  std::vector<std::size_t> wideSubjectLevel;
  for (const auto& [option, c] : subjectLevel) wideSubjectLevel.push_back(addLike(wide, table, c, table.names[c]));
  for (std::size_t s = 0; s < rows.size(); ++s) {
    const std::size_t first = rows[s].front();
    copyCell(table, id, first, wide, wideId);
    for (std::size_t k = 0; k < subjectLevel.size(); ++k) copyCell(table, subjectLevel[k].second, first, wide, wideSubjectLevel[k]);
  }
  std::map<std::size_t, std::vector<std::string>> made;  // long column -> its wide names
  for (std::size_t p = 0; p < perPeriod.size(); ++p) {
    std::vector<std::string> names;
    for (std::size_t c : periodColumns[p]) {
      if (!made.count(c)) {
        std::vector<std::string> columnNames;
        for (std::size_t j = 1; j <= periods; ++j) {
          // Period 1 keeps the long column's name: the engine names a
          // covariate's parameters by its first column.
          const std::string name = j == 1 ? table.names[c] : table.names[c] + "_" + std::to_string(j);
          const std::size_t w = addLike(wide, table, c, name);
          columnNames.push_back(name);
          for (const auto& subject : rows) {
            if (j <= subject.size()) {
              copyCell(table, c, subject[j - 1], wide, w);
            } else {
              wide.values[w].push_back(kMissing);
              wide.text[w].emplace_back();
            }
          }
        }
        made[c] = columnNames;
      }
      names.insert(names.end(), made[c].begin(), made[c].end());
    }
    *perPeriod[p].target = names;
  }
  if (data.options.id.empty()) data.options.id = idName;
  return data;
}

FitData readFitData(const FitOptions& options) {
  DataTable table = readDataFile(options.data);
  if (!options.longId.empty()) return reshapeLong(table, options);
  return FitData{std::move(table), options};
}

}  // namespace kurv::cli
