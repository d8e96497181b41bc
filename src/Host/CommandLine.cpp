#include "Host/CommandLine.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace kefhost {

namespace {

// An upper bound that keeps --for within what the clocks represent.
constexpr double kMaxSeconds = 100.0 * 365 * 24 * 3600;
constexpr long kMaxPasses = 1000000000;

bool isHelp(const std::string& word) { return word == "--help" || word == "-h" || word == "help"; }

bool parsePasses(const std::string& text, int& passes) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < 1 || value > kMaxPasses) return false;
  passes = static_cast<int>(value);
  return true;
}

bool parseSeconds(const std::string& text, double& seconds) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(value) || value <= 0 || value > kMaxSeconds) {
    return false;
  }
  seconds = value;
  return true;
}

}  // namespace

CommandLine CommandLine::usageError(std::string problem) {
  CommandLine result;
  result.action_ = Action::kUsageError;
  result.error_ = std::move(problem);
  return result;
}

CommandLine CommandLine::parse(int argc, const char* const* argv) {
  if (argc < 2) return usageError("no command given");
  const std::string command = argv[1];
  if (isHelp(command)) {
    CommandLine result;
    result.action_ = Action::kHelp;
    return result;
  }
  if (command == "--version") {
    CommandLine result;
    result.action_ = Action::kVersion;
    return result;
  }
  if (command != "run") return usageError("unknown command '" + command + "'");
  return parseRun(argc, argv);
}

CommandLine CommandLine::parseRun(int argc, const char* const* argv) {
  CommandLine result;
  HostOptions& options = result.options_;
  for (int i = 2; i < argc; ++i) {
    std::string name = argv[i];
    if (isHelp(name)) {
      result.action_ = Action::kHelp;
      return result;
    }
    if (name == "--quiet") {
      options.quiet = true;
      continue;
    }
    if (name == "--json") {
      options.json = true;
      continue;
    }

    std::string value;
    bool hasValue = false;
    const size_t equals = name.find('=');
    if (name.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
      hasValue = true;
    }
    const bool takesValue =
        name == "--plugin" || name == "--service-data" || name == "--passes" || name == "--for";
    if (!takesValue) {
      if (name.compare(0, 1, "-") == 0) return usageError("unknown option '" + name + "'");
      return usageError("unexpected argument '" + name + "'");
    }
    if (!hasValue) {
      if (i + 1 >= argc) return usageError(name + " needs a value");
      value = argv[++i];
    }

    if (name == "--plugin") {
      if (!options.pluginPath.empty()) return usageError("--plugin given twice");
      if (value.empty()) return usageError("--plugin needs a path");
      options.pluginPath = value;
    } else if (name == "--service-data") {
      if (value.empty()) return usageError("--service-data needs a file");
      options.serviceDataFiles.push_back(value);
    } else if (name == "--passes") {
      if (!parsePasses(value, options.passes)) {
        return usageError("--passes needs a whole number of at least 1, not '" + value + "'");
      }
    } else if (!parseSeconds(value, options.forSeconds)) {
      return usageError("--for needs a number of seconds above 0, not '" + value + "'");
    }
  }
  if (!result.check()) return usageError(result.error_);
  result.action_ = Action::kRun;
  return result;
}

bool CommandLine::check() {
  if (options_.pluginPath.empty()) {
    error_ = "run needs --plugin PATH";
  } else if (options_.serviceDataFiles.empty()) {
    error_ = "run needs at least one --service-data FILE";
  } else if (options_.quiet && options_.json) {
    error_ = "--quiet and --json exclude each other";
  }
  return error_.empty();
}

}  // namespace kefhost
