// A further output of the log passes (the HAR file): told of each conversation a pass writes
// while the record's data is still there, then whether the pass's log files were written. Called
// by ConversationStore on the thread running the pass: Add with listLock held, the others after.
#pragma once

namespace rw::capture {

class Conversation;

class LogPassSink {
 public:
  virtual ~LogPassSink() = default;
  // A conversation written in this pass. False when it could not be taken in (memory).
  virtual bool Add(const Conversation& conversation) = 0;
  // The log files of this pass were written: make what Add took in durable too.
  virtual void Commit() = 0;
  // The pass failed and its conversations stay in memory for a later pass: forget this pass's.
  virtual void Abandon() = 0;
};

}  // namespace rw::capture
