// Writing the data copy and comparing it with the current data.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "core/error_line.hpp"
#include "core/error_stop.hpp"
#include "core/fixed_string.hpp"
#include "core/format_write.hpp"
#include "core/list_directed.hpp"
#include "core/modules/variables.hpp"
#include "core/record_reader.hpp"
#include "core/replacing_file.hpp"
#include "core/screen.hpp"
#include "core/unformatted_file.hpp"
#include "input/check_data_internal.hpp"
#include "input/data_copy_internal.hpp"
#include "input/input.hpp"

namespace kinrad {

namespace {

namespace fs = std::filesystem;
using datacopy::BinaryRecord;
using datacopy::TextStatement;
using datacopy::TextValue;

constexpr int kIdLength = 20;

[[noreturn]] void copy_failure(const char* what, const std::string& name) {
  set_error_line(1, error_line(what, name));
  stoponerror(1, "SetStartLoc");
}

bool same_value(const std::string& token, const TextValue& x) {
  if (x.real) {
    double r = 0.0;
    // Reals are stored with 7 decimals; a change of up to 1e-5 does not count.
    return list_directed::parse_real(token, r) && std::fabs(r - x.r) <= 1e-5;
  }
  int4 i = 0;
  return list_directed::parse_integer(token, i) && i == x.i;
}

// Identifier fields are compared without their leading blanks (and, as everywhere, without
// their trailing ones).
bool same_record(const std::string& stored, const BinaryRecord& rec) {
  if (!rec.identifiers) return stored == rec.bytes;
  for (std::size_t at = 0; at < stored.size(); at += kIdLength) {
    const std::string_view a = std::string_view(stored).substr(at, kIdLength);
    const std::string_view b = std::string_view(rec.bytes).substr(at, kIdLength);
    if (trim_both(a) != trim_both(b)) return false;
  }
  return true;
}

// The copy holds nothing after its last statement and record: a copy of data with more
// relationships than the current data is a difference, not a match of its first part.
bool nothing_follows(RecordReader& text, UnformattedReader& records) {
  std::string line;
  while (text.read_line(line) == IoStatus::ok)
    if (!trim_both(line).empty()) return false;
  return records.read_record() == IoStatus::end;
}

// Only a regular file is opened: a directory of the same name cannot be read as a copy.
bool open_regular(const std::string& name, auto& reader) {
  std::error_code ec;
  return fs::is_regular_file(name, ec) && reader.open(name);
}

int4 compare_copy(const std::string& textname, const std::string& recordname) {
  RecordReader text;
  if (!open_regular(textname, text)) copy_failure("Failed openning ", textname);
  UnformattedReader records;
  if (!open_regular(recordname, records)) copy_failure("Failed openning ", recordname);

  std::vector<std::string> tokens;
  std::string stored;
  datacopy::CopySink sink;
  // Each statement is read value by value (any line layout), as many values as the current
  // data would write.
  sink.text = [&](const TextStatement& t) {
    tokens.assign(t.values.size(), std::string());
    if (text.read_list_strict(tokens) != IoStatus::ok) return false;
    for (std::size_t k = 0; k < tokens.size(); ++k)
      if (!same_value(tokens[k], t.values[k])) return false;
    return true;
  };
  // The record must have exactly the length the current data give it.
  sink.record = [&](const BinaryRecord& rec) {
    stored.assign(rec.bytes.size(), '\0');
    if (records.read_record(stored) != IoStatus::ok) return false;
    if (records.record_length() != rec.bytes.size()) return false;
    return same_record(stored, rec);
  };
  const bool matched = datacopy::walk_data_copy(sink) && nothing_follows(text, records);
  return matched ? 1 : 0;
}

// Both files are written under temporary names and renamed over the old copy only when
// complete, so that a failed write never leaves a copy that looks whole. A write that fails
// during the walk stops before either file is renamed; should the text file fail only at its
// close, the record file already renamed matches the current data and the old text file, where
// it differs, marks the copy as changed, so it is never taken for the current one.
void write_copy(const std::string& textname, const std::string& recordname) {
  const WriteFailure failure{.routine = "SetStartLoc"};
  ReplacingFile text(textname, failure);
  ReplacingFile records(recordname, failure);
  screen_write("(A)", "Writing data to files...");
  datacopy::CopySink sink;
  sink.text = [&](const TextStatement& t) {
    text.put(datacopy::statement_text(t));
    return true;
  };
  sink.record = [&](const BinaryRecord& rec) {
    records.write_record(rec.bytes);
    return true;
  };
  datacopy::walk_data_copy(sink);
  records.commit();
  text.commit();
}

}  // namespace

void setstartloc(int4 mode, int4& status) {
  const std::string textname = variables.fname + ".data";
  const std::string recordname = variables.fname + ".GtypeData";
  if (mode == 1) {
    status = -1;
    std::error_code ec;
    if (!fs::exists(textname, ec) || !fs::exists(recordname, ec)) return;
    status = compare_copy(textname, recordname);
  } else if (mode == 2) {
    write_copy(textname, recordname);
  }
}

}  // namespace kinrad
