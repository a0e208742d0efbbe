#include "proxy/outbound_queue.h"

#include <algorithm>
#include <cerrno>

#include "proxy/send_all.h"

namespace rw::proxy {

void OutboundQueue::Attach(ByteStream* target) {
  this->stream = target;
  buffer.Clear();
  failed = false;
}

void OutboundQueue::Detach() {
  stream = nullptr;
  buffer.Clear();
}

size_t OutboundQueue::SendNow(std::string_view bytes) {
  int errorNumber = 0;
  const size_t sent =
      SendAllInPortions(bytes, portion, [this, &errorNumber](const char* data, size_t n) {
        platform::SysCallResult result = stream->Write(data, n);
        errorNumber = result.errorNumber;
        return result.value;
      });
  failed = sent < bytes.size() && !platform::WouldBlock(errorNumber);
  return sent;
}

void OutboundQueue::Queue(std::string_view bytes) {
  if (stream == nullptr || failed || bytes.empty()) {
    return;
  }
  if (Pending()) {
    buffer.Append(bytes);
    return;
  }
  const size_t sent = SendNow(bytes);
  if (!failed) {
    buffer.Append(bytes.substr(sent));
  }
}

void OutboundQueue::QueueGathered(std::string_view head, std::string_view body) {
  if (stream == nullptr || failed) {
    return;
  }
  const platform::Socket* socket = stream->PlainSocket();
  if (socket == nullptr) {
    // Records are made from what is handed over: nothing to gather.
    Queue(head);
    Queue(body);
    return;
  }
  // Portions of at most the send size, as every send; the first one carries the header. What
  // the socket does not take now waits.
  while (!Pending() && (!head.empty() || !body.empty())) {
    std::string_view first = head.substr(0, portion);
    std::string_view second = body.substr(0, portion - first.size());
    platform::SysCallResult sent = platform::SendGathered(*socket, first, second);
    if (sent.value < 0 && platform::WouldBlock(sent.errorNumber)) {
      break;
    }
    if (sent.value <= 0) {
      failed = true;
      return;
    }
    const auto count = static_cast<size_t>(sent.value);
    const size_t fromHead = std::min(count, head.size());
    head.remove_prefix(fromHead);
    body.remove_prefix(count - fromHead);
  }
  buffer.Append(head);
  buffer.Append(body);
}

bool OutboundQueue::FlushPipe() {
  while (pipePending > 0) {
    platform::SysCallResult out =
        platform::SpliceFromPipe(pipe, *stream->PlainSocket(), pipePending);
    if (out.value > 0) {
      pipePending -= static_cast<size_t>(out.value);
      continue;
    }
    if (out.value < 0 && platform::WouldBlock(out.errorNumber)) {
      return true;
    }
    // The peer is gone; what is left in the pipe is dropped with it.
    pipe.Close();
    pipePending = 0;
    failed = true;
    return false;
  }
  return true;
}

bool OutboundQueue::Flush() {
  if (stream == nullptr || failed) {
    return false;
  }
  if (!FlushPipe()) {
    return false;
  }
  if (pipePending > 0) {
    return true;  // the queued bytes come after the pipe's
  }
  buffer.Consume(SendNow(buffer.View()));
  if (failed) {
    buffer.Clear();
  }
  return !failed;
}

OutboundQueue::Spliced OutboundQueue::SpliceFrom(const platform::Socket& source, size_t limit) {
  if (!pipe.Valid()) {
    pipe = platform::Pipe::Create(kPipeSize);
    if (!pipe.Valid()) {
      return {0, true};
    }
  }
  platform::SysCallResult moved = platform::SpliceToPipe(source, pipe, limit);
  if (moved.value <= 0) {
    // Nothing taken: the ordinary read reports the end or the failure.
    return {0, moved.value < 0 && moved.errorNumber == EINVAL};
  }
  const auto count = static_cast<size_t>(moved.value);
  pipePending += count;
  Flush();
  return {count, false};
}

}  // namespace rw::proxy
