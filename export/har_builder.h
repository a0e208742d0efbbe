// Builds HAR 1.2 (HTTP Archive) documents from captured conversations, for the --har file and the
// window's export. Pure functions over copies of the records; any thread; no store lock needed.
// Nothing here throws: failures come back as results.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/conversation.h"

namespace rw::capture {

struct HarCreator {
  std::string name = "Relaywatch";
  std::string version;
};

struct HarResult {
  bool ok = false;
  std::string text;   // the document (BuildHar) or nothing (WriteHarFile)
  std::string error;  // what failed, when !ok
  int entries = 0;    // entries in the document
};

// One entry as compact JSON text on one line, or nothing when the record holds no request line
// (a connection that closed without sending one). May throw std::bad_alloc.
std::optional<std::string> HarEntryText(const ConversationRecord& record);

// The document's text before the first entry and after the last; entries go between, separated
// by ",\n". Splitting it this way lets a file grow by appending entries without re-reading them.
std::string HarDocumentHead(const HarCreator& creator);
std::string_view HarDocumentTail();

// The whole document for `conversations`, in the order given (all of a store's Snapshot(), or a
// user's selection). Records already released by the store are left out.
HarResult BuildHar(const std::vector<std::shared_ptr<Conversation>>& conversations,
                   const HarCreator& creator);

// BuildHar written to `path` through a temporary file renamed into place, so that the file is
// whole at every moment.
HarResult WriteHarFile(const std::string& path,
                       const std::vector<std::shared_ptr<Conversation>>& conversations,
                       const HarCreator& creator);

}  // namespace rw::capture
