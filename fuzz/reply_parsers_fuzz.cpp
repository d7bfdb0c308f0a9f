// The reply parsers on arbitrary daemon replies: splitting keeps every byte,
// and a parsed record always reads back as its own normalised text.
#include "link/daemon_error.h"
#include "link/path_status.h"
#include "protocol/fields.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace korvane::link;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void SplitKeepsEveryByte(std::string_view reply) {
  std::vector<std::string> fields;
  korvane::protocol::SplitString(fields, reply, korvane::protocol::kFieldSeparator);
  std::string joined;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) joined += '|';
    joined += fields[i];
  }
  Check(joined == reply);
}

void ErrorRecordIsConsistent(std::string_view reply) {
  DaemonError record;
  if (!record.ParseErrorReply(reply)) {
    Check(record.code == -1000 && record.text.empty());
    return;
  }
  // The normalised text parses back to the same record.
  DaemonError again;
  Check(again.ParseErrorReply(record.text));
  Check(again.text == record.text && again.code == record.code && again.systemError == record.systemError);
}

void StatusIsConsistent(std::string_view reply) {
  PathStatusInfo status;
  bool parsed = ParseStatusReply(reply, status);
  Check(static_cast<int>(status.mode) <= 3);
  if (!parsed) Check(status.Text() == "0||||");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view reply(reinterpret_cast<const char*>(data), size);
  SplitKeepsEveryByte(reply);
  ErrorRecordIsConsistent(reply);
  StatusIsConsistent(reply);
  return 0;
}
