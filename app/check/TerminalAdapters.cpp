#include "app/check/TerminalAdapters.h"

#include <unistd.h>

#include <cstdlib>

#include "app/OutputText.h"

namespace dsc::check {

bool UseColour(int fd) {
  const char* noColour = std::getenv("NO_COLOR");
  if (noColour && *noColour) return false;
  const char* term = std::getenv("TERM");
  if (term && std::string(term) == "dumb") return false;
  return isatty(fd) != 0;
}

LinkErrorPrompt::Answer RetryPrompt::Ask(const std::string& title, const std::string& text) {
  if (used_ >= retries_) return Answer::Cancel;
  ++used_;
  if (beforeLine) beforeLine();
  out_ << "  " << title << ": " << TerminalText(text) << " (retry " << used_ << " of " << retries_
       << ")\n";
  return Answer::Retry;
}

}  // namespace dsc::check
