#include "kvstore/SqFormat.h"

namespace kvstore {

namespace detail {
void sqFormatNeedsMoreArguments() {}
void sqFormatArgumentDoesNotMatchItsConversion() {}
void sqFormatHasMoreArgumentsThanConversions() {}
}  // namespace detail

std::optional<std::string> extractSqFormat(std::string_view format, std::span<const SqFormatArgument> arguments,
                                           std::string& sql, SqArguments& values) {
  sql.clear();
  sql.reserve(format.size());
  values.clear();
  std::size_t taken = 0;
  std::optional<std::string> error;
  scanSqFormat(
      format, [&](char c) { sql.push_back(c); },
      [&](SqConversion c) {
        if (error) return;
        if (taken >= arguments.size()) {
          error = "the format needs more than the " + std::to_string(arguments.size()) + " argument(s) given";
          return;
        }
        const SqFormatArgument& argument = arguments[taken++];
        if (!sqAccepts(c, argument.traits)) {
          error = "argument " + std::to_string(taken) + " does not fit its conversion %" +
                  std::string(sqConversionSpelling(c));
          return;
        }
        SqValue value = argument.convert(argument.value, c);
        if (c == SqConversion::Object && value.isNil()) {
          sql += "NULL";
          return;
        }
        sql.push_back('?');
        values.push_back(std::move(value));
      });
  if (!error && taken != arguments.size())
    error = std::to_string(arguments.size()) + " arguments were given for " + std::to_string(taken) + " conversion(s)";
  if (error) {
    sql.clear();
    values.clear();
  }
  return error;
}

}  // namespace kvstore
