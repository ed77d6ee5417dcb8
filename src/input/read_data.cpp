#include <iostream>

#include "core/error_stop.hpp"
#include "core/format_write.hpp"
#include "core/modules/variables.hpp"
#include "input/input.hpp"
#include "input/read_data_context_internal.hpp"

namespace kinrad {

void InputReader::setitem(std::string_view pfx, std::string_view label) {
  std::string line(pfx);
  line += label;
  variables.errmsg(1) = line;
}

void InputReader::readfailure() {
  if (!variables.errmsg(3).blank()) {
    std::string line(variables.errmsg(1).trimmed());
    line += variables.errmsg(3).trimmed();
    variables.errmsg(1) = line;
    variables.errmsg(3) = "";
  }
  stopondataerror(variables.errmsg(1).view());
}

void InputReader::integerfailure() {
  std::string line(variables.errmsg(1).trimmed());
  line += '\n';
  stopondataerror(line);
}

int4 InputReader::readintnumber(std::string_view pfx, std::string_view label) {
  std::string line(pfx);
  line += label;
  line += mustbeinteger;
  variables.errmsg(1) = line;
  FString<20> token;
  if (file.read_list_strict(token) != IoStatus::ok) integerfailure();
  line = std::string(variables.errmsg(1).trimmed());
  line += " But it reads \"";
  line += token.trimmed();
  line += '"';
  variables.errmsg(1) = line;
  int4 value = 0;
  if (!token_to_integer("(I9)", token.view(), value)) integerfailure();
  return value;
}

bool token_to_integer(std::string_view fmt, std::string_view token, int4& value) {
  return fread_string(fmt, token, value) == IoStatus::ok;
}

void readdata() {
  for (auto& line : variables.errmsg) line = "";
  variables.errmsg(2) = variables.inputfilename;
  variables.blkln = std::string("\r") + std::string(41, ' ');

  if (variables.displayq == 1)
    fwrite(std::cout, "(A)",
           std::string("Opening & reading data input file: ") +
               std::string(trim(variables.inputfilename.view())));

  InputReader in;
  if (!in.file.open(std::string(trim(variables.inputfilename.view())))) {
    std::string line = "Input file ";
    line += trim_both(variables.errmsg(2).view());
    line += " does not exist!";
    variables.errmsg(1) = line;
    variables.errmsg(2) = "";
    stoponerror(1, "ReadData");
  }

  read_parameters(in);
  read_markers(in);
  read_genotypes(in);
  read_relationships(in);

  for (index_t i = 1; i <= 3; ++i) variables.errmsg(i) = "";
}

}  // namespace kinrad
