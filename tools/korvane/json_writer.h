// A small JSON writer for the tool's --json output: values are appended to
// one text in order, commas and colons where they belong. Strings are taken
// as UTF-8; bytes that are not valid UTF-8 come out as U+FFFD.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::cli {

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // The name of the next member of the open object.
  JsonWriter& Key(std::string_view name);
  JsonWriter& String(std::string_view text);
  // A text the library handed out: null when there is none.
  JsonWriter& String(const char* text);
  JsonWriter& Number(std::int64_t value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

  const std::string& Text() const { return text_; }

 private:
  void BeforeValue();

  std::string text_;
  // One entry per open object or array: whether it holds a value yet.
  std::vector<bool> filled_;
  bool afterKey_ = false;
};

// The JSON string literal of a UTF-8 text, quotes included.
std::string JsonString(std::string_view text);

}  // namespace korvane::cli
