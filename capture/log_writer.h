// Writes complete conversations to the two log files: a CSV file of statistics and a file of the
// full captured texts. One object per WriteLogs pass, used by ConversationStore on the thread
// running that pass; the store decides which records go in and frees them afterwards.
#pragma once

#include <string>
#include <string_view>

#include "capture/conversation.h"
#include "platform/append_file.h"

namespace rw::capture {

struct LogFileNames {
  std::string text;
  std::string csv;
};

// The pair of names in `dir` for `stamp` ("%Y%m%d_%H%M%S"): "<dir>/rwlog_<stamp>.txt" and
// ".csv". A "/" is added unless `dir` already ends with one.
LogFileNames MakeLogFileNames(const std::string& dir, const std::string& stamp);
// The `n`th pair for the same stamp: `names` itself for 1, else "..._<n>.txt" and "..._<n>.csv".
LogFileNames NumberedLogFileNames(const LogFileNames& names, int n);

// `field` in double quotes, inner double quotes doubled, so a first line cannot break the row; a
// field that begins with =, +, -, @, a tab or a carriage return gets a leading ' so that a
// spreadsheet shows it as text rather than running it as a formula.
std::string QuoteCsvField(std::string_view field);

// The statistics row of one conversation, ending in CR LF. May throw std::bad_alloc.
std::string CsvRow(const Conversation& conversation);

inline constexpr std::string_view kCsvHeader =
    "\"Time\",\"Id\",\"Req Bytes\",\"Rsp Bytes\",\"Connect Time\",\"Retrieve Time\","
    "\"Total Time\",\"Request\",\"Response\"\r\n";

class LogWriter {
 public:
  explicit LogWriter(LogFileNames names);
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  // Opens the full-text file, then the statistics file, for appending (created 0600, never
  // through a link; a file already there must be the user's own regular file). With `createNew`
  // the pair is created afresh: while either name is taken (another instance started in the same
  // second), the next pair "<stamp>_2", "<stamp>_3"... is tried, and Names() says which was
  // used. On failure `failedName` is the name that could not be opened, `problem` says why, and
  // nothing stays open.
  bool Open(std::string& failedName, std::string& problem, bool createNew);
  const LogFileNames& Names() const { return names; }
  // The statistics file was missing or empty when opened, so it still needs its header.
  bool CsvNeedsHeader() const;
  bool WriteHeader();
  // The row and both texts of a complete conversation. May throw std::bad_alloc.
  bool Write(const Conversation& conversation);
  // Flushes and closes both files; true only when every byte reached them.
  bool Finish();
  // After a failure: cuts both files back to their size at opening and closes them.
  void Abandon();

 private:
  LogFileNames names;
  platform::AppendFile textFile;
  platform::AppendFile csvFile;
};

}  // namespace rw::capture
