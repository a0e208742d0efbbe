#include "capture/log_writer.h"

#include <utility>

#include "capture/conversation.h"

namespace rw::capture {

LogFileNames MakeLogFileNames(const std::string& dir, const std::string& stamp) {
  std::string prefix = dir;
  if (prefix.empty() || prefix.back() != '/') {
    prefix.push_back('/');
  }
  return LogFileNames{prefix + "rwlog_" + stamp + ".txt", prefix + "rwlog_" + stamp + ".csv"};
}

std::string QuoteCsvField(std::string_view field) {
  std::string quoted;
  quoted.reserve(field.size() + 2);
  quoted.push_back('"');
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

LogWriter::LogWriter(LogFileNames names) : names(std::move(names)) {}

bool LogWriter::Open(std::string& failedName) {
  if (!textFile.Open(names.text)) {
    failedName = names.text;
    return false;
  }
  if (!csvFile.Open(names.csv)) {
    failedName = names.csv;
    textFile.Abandon();
    return false;
  }
  return true;
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
