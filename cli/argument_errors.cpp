#include "cli/argument_errors.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "driver/user_error.h"

namespace cli {
namespace {

std::string RangeText(const std::string& low, const std::string& high, bool open) {
  return open ? "(" + low + " or more)" : "(" + low + " to " + high + ")";
}

std::string Decimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::vector<const CLI::App*> Commands(const CLI::App& app) {
  return app.get_subcommands([](const CLI::App*) { return true; });
}

// The names of every option of app and its subcommands as they may appear in
// the library's messages ("--output", "-o", a positional's name), each with
// the name our messages show (the long one).
void CollectNames(const CLI::App& app, std::vector<std::pair<std::string, std::string>>& names) {
  for (const CLI::Option* option : app.get_options()) {
    const std::string shown = option->get_name();
    for (const std::string& name : option->get_lnames()) names.emplace_back("--" + name, shown);
    for (const std::string& name : option->get_snames()) names.emplace_back("-" + name, shown);
    if (const std::string positional = option->get_name(true); !positional.empty())
      names.emplace_back(positional, shown);
  }
  for (const CLI::App* command : Commands(app)) CollectNames(*command, names);
}

bool NameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.'; }

// The options the text names, in the order it names them, by the names our
// messages show. A name counts only as a whole word ("-o" is not found in
// "--output", "poses" not in "purposes").
std::vector<std::string> NamesIn(const std::string& text, const CLI::App& app) {
  std::vector<std::pair<std::string, std::string>> names;
  CollectNames(app, names);
  std::vector<std::pair<size_t, std::string>> found;  // position, shown name
  for (const auto& [name, shown] : names) {
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
      const size_t end = at + name.size();
      if ((at == 0 || !NameChar(text[at - 1])) && (end == text.size() || !NameChar(text[end]))) {
        found.emplace_back(at, shown);
        break;
      }
    }
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> shownNames;
  for (const auto& [at, shown] : found)
    if (std::find(shownNames.begin(), shownNames.end(), shown) == shownNames.end()) shownNames.push_back(shown);
  return shownNames;
}

// The text after "name: " when the text starts so; else the whole text.
std::string After(const std::string& text, const std::string& name) {
  const std::string start = name + ": ";
  return text.compare(0, start.size(), start) == 0 ? text.substr(start.size()) : text;
}

std::string Lowered(std::string text) {
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

// "a, b and c".
std::string Listed(const std::vector<std::string>& names) {
  std::string list;
  for (size_t i = 0; i < names.size(); ++i)
    list += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
  return list;
}

// Arguments nothing took: the first of them as the user gave them.
std::string ExtrasProblem(const CLI::App& app, const std::vector<std::string>& arguments) {
  const std::vector<std::string> left = app.remaining(true);
  if (left.empty()) return "arguments: some were not expected";
  // The library may hand back a part of an argument ("=3" of "-q=3").
  auto matches = [&left](const std::string& argument, bool part) {
    for (const std::string& extra : left) {
      const std::string bare = extra.substr(std::min(extra.find_first_not_of('-'), extra.size()));
      if (argument == extra || (part && !bare.empty() && argument.find(bare) != std::string::npos)) return true;
    }
    return false;
  };
  std::string first;
  for (bool part : {false, true})
    for (const std::string& argument : arguments)
      if (first.empty() && matches(argument, part)) first = argument;
  if (first.empty()) first = left.front();
  const std::string subject = first.empty() ? "\"\"" : driver::OneLine(first);
  const std::vector<CLI::App*> used = app.get_subcommands();
  if (first[0] == '-') {
    // An option of the commands given before the command, or of another command.
    const std::string name = first.substr(0, first.find('='));
    std::vector<std::string> owners;
    for (const CLI::App* command : Commands(app))
      if (command->get_option_no_throw(name) != nullptr) owners.push_back(command->get_name());
    if (owners.empty() || (!used.empty() && used.back()->get_option_no_throw(name) != nullptr))
      return subject + ": no such option";
    return subject + ": an option of " + Listed(owners) +
           (used.empty() ? "; give it after the command" : ", not of " + used.back()->get_name());
  }
  if (used.empty()) {
    std::vector<std::string> names;
    for (const CLI::App* command : Commands(app)) names.push_back(command->get_name());
    return subject + ": no such command; the commands are " + Listed(names);
  }
  return subject + ": not expected here";
}

}  // namespace

CLI::Validator WholeNumberIn(long low, long high) {
  const bool open = high >= std::numeric_limits<int>::max();  // no upper bound worth naming
  const std::string range = RangeText(std::to_string(low), std::to_string(high), open);
  return CLI::Validator(
      [low, high, range](std::string& value) -> std::string {
        size_t digits = value.size() > 0 && (value[0] == '-' || value[0] == '+') ? 1 : 0;
        const bool whole = digits < value.size() &&
                           value.find_first_not_of("0123456789", digits) == std::string::npos;
        if (!whole) return driver::QuotedValue(value) + " is not a whole number " + range;
        errno = 0;
        const long number = std::strtol(value.c_str(), nullptr, 10);
        if (errno == ERANGE || number < low || number > high) return driver::QuotedValue(value) + " is out of range " + range;
        value = std::to_string(number);
        return "";
      },
      "");
}

CLI::Validator NumberIn(double low, double high) {
  const std::string range = RangeText(Decimal(low), Decimal(high), false);
  return CLI::Validator(
      [low, high, range](std::string& value) -> std::string {
        char* end = nullptr;
        const double number = std::strtod(value.c_str(), &end);
        if (value.empty() || end != value.c_str() + value.size())
          return driver::QuotedValue(value) + " is not a number " + range;
        if (!std::isfinite(number)) return driver::QuotedValue(value) + " is not a finite number " + range;
        if (number < low || number > high) return driver::QuotedValue(value) + " is out of range " + range;
        value = Decimal(number);
        return "";
      },
      "");
}

CLI::Validator NotEmpty() {
  return CLI::Validator([](std::string& value) { return value.empty() ? std::string("is empty") : std::string(); },
                        "");
}

std::string ArgumentProblem(const CLI::ParseError& error, const CLI::App& app,
                            const std::vector<std::string>& arguments) {
  if (dynamic_cast<const CLI::ExtrasError*>(&error)) return ExtrasProblem(app, arguments);
  const std::string text = driver::OneLine(error.what());
  const std::vector<std::string> names = NamesIn(text, app);
  const std::string subject = names.empty() ? "arguments" : names[0];
  const std::string other = names.size() > 1 ? names[1] : "another option";
  std::string problem;
  if (dynamic_cast<const CLI::ValidationError*>(&error)) {
    problem = After(text, subject);  // our own validators' words
  } else if (dynamic_cast<const CLI::ConversionError*>(&error)) {
    const size_t values = text.rfind(" = ");
    if (text.find("flag") != std::string::npos || text.find("true/false") != std::string::npos)
      problem = "takes no value";
    else if (values != std::string::npos)
      problem = driver::QuotedValue(text.substr(values + 3)) + " is not a value it takes";
    else
      problem = "the value is not one it takes";
  } else if (dynamic_cast<const CLI::ArgumentMismatch*>(&error)) {
    problem = text.find("At Most") != std::string::npos ? "given more than once" : "needs a value";
  } else if (dynamic_cast<const CLI::RequiredError*>(&error)) {
    const auto used = app.get_subcommands();
    problem = used.empty() ? "missing" : "missing; " + used.back()->get_name() + " needs it";
  } else if (dynamic_cast<const CLI::RequiresError*>(&error)) {
    problem = "needs " + other + " as well";
  } else if (dynamic_cast<const CLI::ExcludesError*>(&error)) {
    problem = "cannot be given with " + other;
  } else {
    problem = Lowered(After(text, subject));
  }
  return subject + ": " + problem;
}

}  // namespace cli
