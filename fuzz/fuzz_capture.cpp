// Capture of relayed bytes: the text prefix rules across chunks, and a conversation's appends
// and renderings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "capture/conversation.h"
#include "capture/conversation_store.h"
#include "capture/text_prefix.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/read_splitter.h"

using namespace rw::capture;

namespace {

using rw::fuzz::Check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ConversationStore store;
  rw::fuzz::ReadSplitter reads(data, size);
  auto conversation = std::make_shared<Conversation>(1, store);
  Utf8Carry carries[2];
  int64_t totals[2] = {0, 0};
  while (!reads.Done()) {
    bool mark = false;
    std::string_view read = reads.Next(&mark);
    const auto count = static_cast<int32_t>(read.size());
    const int side = mark ? 1 : 0;
    const int32_t plain = TextPrefixLength(read.data(), count);
    const int32_t utf8 = Utf8TextPrefixLength(read.data(), count, carries[side]);
    Check(plain >= 0 && plain <= count);
    Check(utf8 >= plain && utf8 <= count);
    Check(carries[side].size <= 3);
    totals[side] += count;
    if (mark) {
      conversation->AddResponseData(read.data(), count);
    } else {
      conversation->AddRequestData(read.data(), count);
    }
  }
  Check(conversation->RequestTotal() == totals[0]);
  Check(conversation->ResponseTotal() == totals[1]);
  Check(conversation->RequestDataSize() <= totals[0]);
  Check(conversation->ResponseDataSize() <= totals[1]);
  for (Direction direction : {Direction::kRequest, Direction::kResponse}) {
    conversation->FirstLine(direction);
    conversation->FullText(direction);
    conversation->DisplayText(direction, false);
    conversation->DisplayText(direction, true);
    std::string page;
    conversation->AppendPageBlock(direction, page);
  }
  conversation->RequestFirstLine();
  conversation->ResponseFirstLine();
  conversation->RequestText();
  conversation->ResponseText();
  return 0;
}
