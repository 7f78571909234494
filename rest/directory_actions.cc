// The read-only browsing actions: the directory listing (GET dir) and stat (GET stat). Both ask
// the host for a text in the mark convention and reshape it into JSON; malformed texts never
// fail the request.
//
// The listing's opt-in data=1 (never sent by plain clients) adds to each item entry of at most
// 64 KiB its content as `data` (the array GET file gives) and its entity tag as `etag`, so that
// a client sees a whole section in one request. An item removed while it is listed just has no
// `data`. Every item entry whose item has a modification time also carries it, last, as
// `mtime`: nanoseconds since 1970-01-01 UTC (a host without times gives none).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "host/host_errors.h"
#include "host/item_tag.h"
#include "rest/actions.h"
#include "rest/item_path.h"
#include "rest/kept_reply_sink.h"
#include "json/item_text.h"
#include "json/json_writer.h"
#include "json/reply_texts.h"

namespace ombrix {

namespace {

constexpr std::int64_t directory_bit = 0x10;  // a directory-like entry has no size
constexpr std::u16string_view line_end = u"\r\n";

template <typename Char>
bool is_space(Char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

template <typename Char>
bool is_digit(Char c) {
  return c >= '0' && c <= '9';
}

// The number at the start of a field, before range rules: leading white space, one sign, then
// digits up to the first other character. The magnitude saturates at the 64-bit unsigned limit.
struct leading_number {
  bool negative = false;
  bool digits = false;
  std::uint64_t magnitude = 0;
};

template <typename Char>
leading_number read_leading_number(std::basic_string_view<Char> field) {
  leading_number number;
  std::size_t pos = 0;
  while (pos < field.size() && is_space(field[pos])) ++pos;
  if (pos < field.size() && (field[pos] == '+' || field[pos] == '-')) {
    number.negative = field[pos] == '-';
    ++pos;
  }
  constexpr std::uint64_t saturated = std::numeric_limits<std::uint64_t>::max();
  for (; pos < field.size() && is_digit(field[pos]); ++pos) {
    number.digits = true;
    const auto digit = static_cast<std::uint64_t>(field[pos] - '0');
    number.magnitude = number.magnitude > (saturated - digit) / 10
                           ? saturated
                           : number.magnitude * 10 + digit;
  }
  return number;
}

// A query parameter as a 32-bit decimal: 0 when absent, without a leading number or out of range.
std::int32_t parameter_value(std::string_view value) {
  const leading_number number = read_leading_number(value);
  constexpr std::uint64_t positive_limit = std::numeric_limits<std::int32_t>::max();
  if (!number.digits) return 0;
  if (number.negative) {
    if (number.magnitude > positive_limit + 1) return 0;
    return static_cast<std::int32_t>(-static_cast<std::int64_t>(number.magnitude));
  }
  if (number.magnitude > positive_limit) return 0;
  return static_cast<std::int32_t>(number.magnitude);
}

// A number in a host listing or stat text. Sizes may exceed 32 bits, so this reads 64 bits and
// saturates at the 64-bit limits; no digits give 0.
std::int64_t host_number(std::u16string_view field) {
  const leading_number number = read_leading_number(field);
  constexpr std::uint64_t positive_limit = std::numeric_limits<std::int64_t>::max();
  if (number.negative) {
    if (number.magnitude > positive_limit) return std::numeric_limits<std::int64_t>::min();
    return -static_cast<std::int64_t>(number.magnitude);
  }
  if (number.magnitude > positive_limit) return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(number.magnitude);
}

// Entries of at most this listed size carry their data when the listing asks for it.
constexpr std::int64_t data_size_limit = 64 * 1024;

// Where the data of listed items comes from; null when the listing does not carry it.
struct entry_data_source {
  velquor_base& host;
  const text& file;
  const std::unordered_map<std::u16string, std::int64_t>& times;
};

// The members data and etag of the item `name`; nothing when it is gone.
void write_entry_data(json_writer& writer, const entry_data_source& source,
                      std::u16string_view name) {
  text content;
  try {
    content = source.host.read_item(source.file, text(name), unused_item_option,
                                    unused_item_option, unused_item_option, unused_item_flag);
  } catch (const _com_error& error) {
    if (host_error_number(error.Error()) != static_cast<std::uint32_t>(host_error::item_not_found)) {
      throw;
    }
    return;
  }
  writer.key("data");
  item_to_json(writer, content, 0);
  writer.key("etag");
  writer.string(item_tag(content));
}

// One listing entry: name, SM, attributes, SM, size (further fields ignored). An entry with an
// empty name writes nothing.
void write_entry(json_writer& writer, std::u16string_view entry,
                 const entry_data_source* source) {
  const std::size_t name_end = entry.find(subvalue_mark);
  std::u16string_view name = entry.substr(0, name_end);
  if (name.empty()) return;
  writer.begin_object();
  writer.key("id");
  writer.string_utf16(name);
  if (name_end != std::u16string_view::npos) {
    std::u16string_view rest = entry.substr(name_end + 1);
    const std::size_t attr_end = rest.find(subvalue_mark);
    const std::u16string_view attr_text = rest.substr(0, attr_end);
    const std::int64_t attr = host_number(attr_text);
    writer.key("attr");
    // Fields that are plain digits already are the number's text.
    if (!writer.integer_text(attr_text)) writer.integer(attr);
    if (attr_end != std::u16string_view::npos && (attr & directory_bit) == 0) {
      rest = rest.substr(attr_end + 1);
      const std::u16string_view size_text = rest.substr(0, rest.find(subvalue_mark));
      writer.key("size");
      const std::int64_t size = host_number(size_text);
      if (!writer.integer_text(size_text)) writer.integer(size);
      if (source != nullptr && size <= data_size_limit) write_entry_data(writer, *source, name);
      if (source != nullptr) {
        const auto time = source->times.find(std::u16string(name));
        if (time != source->times.end()) {
          writer.key("mtime");
          writer.integer(time->second);
        }
      }
    }
  }
  writer.end_object();
}

// The JSON of a listing; with `source`, each item's data and tag too.
void write_listing(json_writer& writer, std::u16string_view listing,
                   const entry_data_source* source) {
  // About the JSON's size: entries of short names take two to three bytes per unit of the
  // listing, so the buffer grows once or not at all.
  writer.expect(std::min<std::size_t>(3 * listing.size() + 32, std::size_t{1} << 30));
  writer.begin_object();
  writer.key("items");
  writer.begin_array();
  // The first line names the listed file and is not used.
  const std::size_t header_end = listing.find(line_end);
  if (header_end != text::npos) {
    const std::u16string_view entries = listing.substr(header_end + 2);
    std::size_t pos = 0;
    while (pos < entries.size()) {
      std::size_t end = entries.find(value_mark, pos);
      if (end == std::u16string_view::npos) end = entries.size();
      write_entry(writer, entries.substr(pos, end - pos), source);
      pos = end + 1;
    }
  }
  writer.end_array();
  writer.end_object();
}

// The reply of GET dir (without the items' data) from the listing's pieces; offered to the host
// to keep, and a kept one is taken as it is.
class listing_reply_sink final : public kept_reply_sink {
 public:
  listing_reply_sink(std::string& reply, std::shared_ptr<const std::string>* kept_out)
      : kept_reply_sink(reply, kept_out) {}

  void begin(std::size_t units) override {
    forget_kept();
    listing_.clear();
    listing_.reserve(units);
  }
  void piece(std::u16string_view units) override { listing_.append(units); }
  void end() override {
    json_writer writer;
    write_listing(writer, listing_, nullptr);
    text().swap(listing_);
    reply_ = json_reply(writer.view());
  }

 private:
  text listing_;
};

}  // namespace

int list_directory_action(const action_request& request, std::string& reply) {
  std::optional<text> file =
      checked_directory_path(request.rest, request.session, request.config, reply);
  if (!file) return path_refusal_status;

  const std::int32_t attr = parameter_value(request.env.value("QS_ATTR"));
  const std::int32_t max_items = parameter_value(request.env.value("QS_MAX_ITEMS"));
  if (request.env.value("QS_DATA") != "1") {
    listing_reply_sink sink(reply, request.kept_reply);
    request.host.list_items_pieces(*file, attr, max_items, sink);
    return 200;
  }
  // With the items' data the reply depends on more than the listing: made afresh each time.
  const text listing = request.host.list_items(*file, attr, max_items, text{}, u"-1");
  std::unordered_map<std::u16string, std::int64_t> times;
  for (auto& [id, nanoseconds] : request.host.list_item_times(*file)) {
    times.emplace(std::move(id), nanoseconds);
  }
  const entry_data_source data_source{request.host, *file, times};
  json_writer writer;
  write_listing(writer, listing, &data_source);
  reply = json_reply(writer.view());
  return 200;
}

int stat_action(const action_request& request, std::string& reply) {
  std::optional<item_path> path =
      checked_item_path(path_action::stat, request.rest, request.session, request.config, reply);
  if (!path) return path_refusal_status;

  static constexpr char16_t selector[] = {u'-', u'1', value_mark, u'-', u'2', 0};
  const text result = request.host.stat_item(path->file, path->item, selector);

  // The first two non-empty lines hold the attributes and the size.
  std::u16string_view lines[2];
  std::size_t found = 0;
  std::u16string_view remaining = result;
  while (found < 2 && !remaining.empty()) {
    const std::size_t end = remaining.find(line_end);
    std::u16string_view line = remaining.substr(0, end);
    if (!line.empty()) lines[found++] = line;
    remaining = end == std::u16string_view::npos ? std::u16string_view{}
                                                 : remaining.substr(end + 2);
  }
  const std::int64_t attr = found > 0 ? host_number(lines[0]) : 0;
  std::int64_t size = found > 1 ? host_number(lines[1]) : 0;
  if ((attr & directory_bit) != 0) size = 0;

  json_writer writer;
  writer.begin_object();
  writer.key("attr");
  writer.integer(attr);
  writer.key("size");
  writer.integer(size);
  writer.end_object();
  reply = json_reply(writer.view());
  return 200;
}

}  // namespace ombrix
