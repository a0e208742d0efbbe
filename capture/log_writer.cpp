#include "capture/log_writer.h"

#include <cerrno>
#include <utility>

#include "capture/conversation.h"

namespace rw::capture {
namespace {

// Instances started in the same second take the pairs in turn; past this many, something else
// is filling the directory.
constexpr int kMaxNumberedPairs = 100;

}  // namespace

LogFileNames MakeLogFileNames(const std::string& dir, const std::string& stamp) {
  std::string prefix = dir;
  if (prefix.empty() || prefix.back() != '/') {
    prefix.push_back('/');
  }
  return LogFileNames{prefix + "rwlog_" + stamp + ".txt", prefix + "rwlog_" + stamp + ".csv"};
}

LogFileNames NumberedLogFileNames(const LogFileNames& names, int n) {
  if (n <= 1) {
    return names;
  }
  const std::string suffix = "_" + std::to_string(n);
  const auto numbered = [&](const std::string& name) {
    const size_t dot = name.rfind('.');
    return name.substr(0, dot) + suffix + name.substr(dot);
  };
  return LogFileNames{numbered(names.text), numbered(names.csv)};
}

std::string QuoteCsvField(std::string_view field) {
  std::string quoted;
  quoted.reserve(field.size() + 3);
  quoted.push_back('"');
  // A spreadsheet reads a cell that starts with one of these as a formula; the first lines come
  // from pages and servers, so such a cell is marked as text.
  if (!field.empty() &&
      std::string_view("=+-@\t\r").find(field.front()) != std::string_view::npos) {
    quoted.push_back('\'');
  }
  for (const char c : field) {
    if (c == '"') {
      quoted.push_back('"');
    }
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

std::string CsvRow(const Conversation& conversation) {
  const std::string fields[] = {
      platform::FormatLocal(conversation.StartTime(), "%Y/%m/%d %H:%M:%S"),
      std::to_string(conversation.GetId()),
      std::to_string(conversation.RequestTotal()),
      std::to_string(conversation.ResponseTotal()),
      conversation.ConnectTimeText(),
      conversation.RetrieveTimeText(),
      conversation.TotalTimeText(),
      conversation.FirstLine(Direction::kRequest),
      conversation.FirstLine(Direction::kResponse),
  };
  std::string row;
  for (const std::string& field : fields) {
    if (!row.empty()) {
      row.push_back(',');
    }
    row.append(QuoteCsvField(field));
  }
  row.append("\r\n");
  return row;
}

LogWriter::LogWriter(LogFileNames fileNames) : names(std::move(fileNames)) {}

bool LogWriter::Open(std::string& failedName, std::string& problem, bool createNew) {
  using Creation = platform::AppendFile::Creation;
  const Creation creation = createNew ? Creation::kCreateNew : Creation::kOpenOrCreate;
  const LogFileNames first = names;
  for (int n = 1; n <= kMaxNumberedPairs; ++n) {
    names = NumberedLogFileNames(first, n);
    if (!textFile.OpenPrivate(names.text, creation)) {
      if (createNew && textFile.Error() == EEXIST) {
        continue;
      }
      failedName = names.text;
      problem = textFile.Problem();
      return false;
    }
    if (!csvFile.OpenPrivate(names.csv, creation)) {
      textFile.RemoveCreated();
      textFile.Abandon();
      if (createNew && csvFile.Error() == EEXIST) {
        continue;
      }
      failedName = names.csv;
      problem = csvFile.Problem();
      return false;
    }
    return true;
  }
  failedName = first.text;
  problem = "every numbered name for this second is taken";
  return false;
}

bool LogWriter::CsvNeedsHeader() const {
  return csvFile.SizeAtOpen() == 0;
}

bool LogWriter::WriteHeader() {
  return csvFile.Write(kCsvHeader);
}

bool LogWriter::Write(const Conversation& conversation) {
  return csvFile.Write(CsvRow(conversation)) &&
         textFile.Write(conversation.FullText(Direction::kRequest)) &&
         textFile.Write(conversation.FullText(Direction::kResponse));
}

bool LogWriter::Finish() {
  // Flush both before closing either, so that a failure can still be cut back by Abandon.
  if (!csvFile.Flush() || !textFile.Flush()) {
    return false;
  }
  const bool csvClosed = csvFile.Close();
  const bool textClosed = textFile.Close();
  return csvClosed && textClosed;
}

void LogWriter::Abandon() {
  csvFile.Abandon();
  textFile.Abandon();
}

}  // namespace rw::capture
