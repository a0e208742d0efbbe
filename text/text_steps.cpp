#include "text/text_steps.h"

namespace rw::text {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string Trim(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsSpace(text[begin])) {
    ++begin;
  }
  while (end > begin && IsSpace(text[end - 1])) {
    --end;
  }
  return std::string(text.substr(begin, end - begin));
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

std::vector<std::string> Tokenise(std::string_view text, std::string_view separators) {
  std::vector<std::string> tokens;
  std::string current;
  for (char c : text) {
    if (c == '\0' || c == '\n') {
      break;
    }
    if (separators.find(c) != std::string_view::npos) {
      if (!current.empty()) {
        tokens.push_back(std::move(current));
        current.clear();
      }
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) {
    tokens.push_back(std::move(current));
  }
  return tokens;
}

bool IsMethod(std::string_view word) {
  if (word.empty() || word.size() > 32) {
    return false;
  }
  for (const char c : word) {
    if (!((c >= 'A' && c <= 'Z') || c == '-' || c == '_')) {
      return false;
    }
  }
  return true;
}

}  // namespace rw::text
