// The ids of the conversations a store holds, oldest first, for comparing store contents.
#pragma once

#include <cstdint>
#include <vector>

#include "capture/conversation_store.h"

namespace rw::testing {

inline std::vector<int32_t> Ids(const capture::ConversationStore& store) {
  std::vector<int32_t> ids;
  for (const auto& conversation : store.Snapshot()) {
    ids.push_back(conversation->GetId());
  }
  return ids;
}

}  // namespace rw::testing
