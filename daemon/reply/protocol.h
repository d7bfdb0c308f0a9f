// The daemon's side of the pipe protocol. Frames, the command table and
// field splitting are the protocol's own (src/protocol/), shared with the
// library; what is here is only the daemon's: the shapes of its reply texts.
#pragma once

#include "protocol/commands.h"
#include "protocol/fields.h"
#include "protocol/frame.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace korvane::server {

using protocol::Channel;
using protocol::ChannelOf;
using protocol::Command;
using protocol::DescribeFault;
using protocol::FrameFault;
using protocol::FrameReading;
using protocol::kMaxPacketSize;
using protocol::ReadFrame;
using protocol::SplitArguments;

// Fields joined with "|". A "|" or line break inside a field would shift the
// reader's view of the fields, so each becomes a blank.
std::string JoinFields(std::initializer_list<std::string_view> fields);
// The same for fields that may hold lists, one item a line: only "|" and
// carriage returns become blanks.
std::string JoinListFields(std::initializer_list<std::string_view> fields);

}  // namespace korvane::server
