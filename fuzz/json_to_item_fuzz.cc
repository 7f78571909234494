// Feeds arbitrary bytes to json_to_item as a request's "data" or "args" array. An item that was
// read must come back unchanged through item_to_json and json_to_item, unless its last
// attribute ends in CR LF or a mark (those are not written as trailing empty elements).
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "json/item_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > UINT32_MAX) return 0;
  ombrix::json_tokenizer tokenizer;
  tokenizer.init(reinterpret_cast<const char*>(data), static_cast<std::uint32_t>(size));
  ombrix::text item = u"sentinel";
  bool ok = false;
  try {
    ok = ombrix::json_to_item(tokenizer, item);
  } catch (const std::range_error&) {
    if (item != u"sentinel") std::abort();
    return 0;
  }
  if (!ok) {
    if (item != u"sentinel") std::abort();
    return 0;
  }

  ombrix::json_writer writer;
  ombrix::item_to_json(writer, item, 0);
  const std::string json = writer.text();
  ombrix::json_tokenizer again;
  again.init(json.data(), static_cast<std::uint32_t>(json.size()));
  ombrix::text back;
  if (!ombrix::json_to_item(again, back)) std::abort();

  const bool ends_in_mark = !item.empty() && (item.back() == ombrix::value_mark ||
                                              item.back() == ombrix::subvalue_mark);
  const bool ends_in_crlf = item.size() >= 2 && item[item.size() - 2] == u'\r' &&
                            item.back() == u'\n';
  if (!ends_in_mark && !ends_in_crlf && back != item) std::abort();
  return 0;
}
