// The host server interface: every piece of database work goes through it. One object serves
// one request on one thread and is never shared between threads. Held by std::shared_ptr.
// Every failure is thrown as _com_error; no operation returns a status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/com_error.h"
#include "host/item_tag.h"
#include "host/text.h"

namespace ombrix {

// What callers pass for the numeric arguments of read_item and write_item that no caller uses:
// the host interface has them, the REST service always passes zero.
inline constexpr std::int32_t unused_item_option = 0;
inline constexpr std::int16_t unused_item_flag = 0;

// Receives an item's text from velquor_base::read_item_pieces: begin, the pieces in order, end.
// A host may also keep what the sink makes of the text (rendering) and hand it to a later sink
// for the same item (reuse) while the item is unchanged, instead of the text.
class item_text_sink {
 public:
  virtual ~item_text_sink() = default;
  // First, with the length of the text in units.
  virtual void begin(std::size_t units) = 0;
  // The next piece; pieces split the text anywhere (inside a CR LF or a surrogate pair too).
  virtual void piece(std::u16string_view units) = 0;
  // After the last piece.
  virtual void end() = 0;
  // After end: what the sink made of the text for a host to keep, or null (keep nothing, also
  // when it would be longer than `max_bytes`).
  virtual std::shared_ptr<const std::string> rendering(std::size_t max_bytes) {
    (void)max_bytes;
    return nullptr;
  }
  // Instead of begin, pieces and end: a rendering this kind of sink made earlier of the same,
  // unchanged item. Returns false when the sink cannot use it; the text then follows as usual.
  virtual bool reuse(const std::shared_ptr<const std::string>& kept) {
    (void)kept;
    return false;
  }
};

// Supplies an item's text to velquor_base::write_item_pieces.
class item_text_source {
 public:
  virtual ~item_text_source() = default;
  // The length of the whole text in units.
  virtual std::size_t units() const = 0;
  // Hands the whole text to `put` in pieces, in order: units() units in all. May be called
  // more than once; each call hands the same text.
  virtual void produce(const std::function<void(std::u16string_view piece)>& put) = 0;
};

// How the default whole-item operations create the new item: with its content (generation 8.0
// callers) or empty and then written (7.1).
enum class create_style { with_content, empty_then_write };

// Slots 1 to 19, in the order of the component's table. Texts are 16-bit; the callers convert
// from and to UTF-8 (the three login properties: the default code page; cmd's file name and
// item id: command_parameter_name). Every operation throws _com_error on failure: host errors
// 200 to 203 name a missing file or item, other codes are the host's or the component's
// failure. An object is used for one request only.
class velquor_base {
 public:
  virtual ~velquor_base() = default;

  // Connects to the server text "[server*]account*client". Called by the host factory only.
  virtual void connect(const text& server) = 0;
  // The host's own server name; login builds the session's server text from it.
  virtual text get_server_name() = 0;
  virtual text get_property_2() = 0;  // no caller
  // The account name: accepted as the first segment of every item path.
  virtual text get_property_3() = 0;
  virtual text get_property_4() = 0;  // no caller
  // The master dictionary's name: the file behind root-level paths, also a first segment.
  virtual text get_property_5() = 0;
  // The whole item text (attributes joined by CR LF). Callers pass unused_item_option for a, b
  // and c and unused_item_flag for flag. Used by GET file and rename.
  virtual text read_item(const text& file, const text& item, std::int32_t a, std::int32_t b,
                         std::int32_t c, std::int16_t flag) = 0;
  // Replaces the whole item with `content`, creating it when missing. Callers pass
  // unused_item_option for a to d. Used by PUT file, and by create and rename on 7.1.
  virtual void write_item(const text& file, const text& item, const text& content,
                          std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) = 0;
  // Creates the item; fails when it exists. Generation 8.0 callers pass the content, 7.1
  // callers an empty text and write the content with write_item.
  virtual void create_item(const text& file, const text& item, const text& content) = 0;
  // Deletes the item. Used by DELETE file and by rename (the old id).
  virtual void delete_item(const text& file, const text& item) = 0;
  // Attributes and size of an entry; callers pass the selector "-1", value mark, "-2".
  virtual text stat_item(const text& file, const text& item, const text& selector) = 0;
  virtual std::int16_t query_flag_1(const text& a) = 0;                // no caller
  virtual std::int16_t query_flag_2(const text& a, const text& b) = 0;  // no caller
  // The listing of `file`: a header line, then entries name SM attributes SM size, separated by
  // value marks. `attribute` and `max_count` are the request's attr and max_items (0: any, all);
  // callers pass an empty `b` and the selector "-1".
  virtual text list_items(const text& file, std::int32_t attribute, std::int32_t max_count,
                          const text& b, const text& selector) = 0;
  virtual void invoke_pair(const text& a, const text& b) = 0;                      // no caller
  virtual text query_text_1(const text& a, const text& b, std::int16_t flag) = 0;  // no caller
  // Runs host subroutine `name`: cmd passes ("FTFSCMD", command, parameter text), call passes
  // (subroutine, empty text, argument text).
  virtual text call_subroutine(const text& name, const text& first, const text& second) = 0;
  // A file name or item id in the form this host reads on line 1 or 2 of the parameter text
  // that cmd passes to FTFSCMD; nullopt when the host cannot receive the name there. Makes no
  // host call. The embedded host takes the name unchanged (this default); the COM bindings pass
  // its default-code-page bytes, one byte per 16-bit unit, and refuse a character the code
  // page lacks. Throws _com_error when the platform's conversion fails.
  virtual std::optional<text> command_parameter_name(const text& name) const { return name; }
  virtual text query_text_2(std::int32_t value, const text& a) = 0;  // no caller
  // Asks the host to stop; only logout with the exit option calls it, and ignores its errors.
  virtual void quit() = 0;

  // read_item, the text handed to `sink` in pieces (GET file uses it, and only with sinks of one
  // kind, so that a rendering kept for an item fits every later sink). Errors as read_item:
  // those of the file and the item come before any sink call, a storage failure may come
  // between pieces (what the sink made is then to be dropped); exceptions of the sink pass
  // through. This default reads the whole text with read_item and keeps nothing; a host that
  // can read the text in pieces holds less of it at once, and one that knows when an item
  // changes may keep renderings.
  virtual void read_item_pieces(const text& file, const text& item, item_text_sink& sink) {
    const text content = read_item(file, item, unused_item_option, unused_item_option,
                                   unused_item_option, unused_item_flag);
    sink.begin(content.size());
    sink.piece(content);
    sink.end();
  }

  // list_items (with an empty `b` and the selector "-1"), the listing handed to `sink`, which
  // may split it anywhere; GET dir uses it, with sinks of one kind, so a host that keeps
  // listings may keep the sink's rendering of one and reuse it while the listing stands. Errors
  // as list_items. This default calls list_items and keeps nothing.
  virtual void list_items_pieces(const text& file, std::int32_t attribute, std::int32_t max_count,
                                 item_text_sink& sink) {
    const text listing = list_items(file, attribute, max_count, text{}, u"-1");
    sink.begin(listing.size());
    sink.piece(listing);
    sink.end();
  }

  // write_item, the text taken from `source` in pieces (PUT file uses it for large bodies).
  // Errors as write_item; exceptions of the source pass through, with nothing written. This
  // default gathers the text and calls write_item; a host that can write a text in pieces never
  // holds it whole.
  virtual void write_item_pieces(const text& file, const text& item, item_text_source& source) {
    text content;
    content.reserve(source.units());
    source.produce([&](std::u16string_view piece) { content.append(piece); });
    write_item(file, item, content, unused_item_option, unused_item_option, unused_item_option,
               unused_item_option);
  }

  // Whole-item operations, beyond the component's table. A host that can run one in a single
  // transaction overrides it, so that a crash or a refusal at any moment leaves every item
  // exactly as before or exactly as after. The defaults run the sequence of single calls above
  // (read, create or write, delete), which stops at the first failure and is not undone.
  //
  // Gives item `from` of `file` the id `to`. An existing `to` is refused as create_item refuses
  // it, unless `replace`. Moving an item onto its own id only checks that it exists.
  virtual void move_item(const text& file, const text& from, const text& to, bool replace,
                         create_style style);
  // Copies item `from` of `file` to `to`; an existing `to` is refused as create_item refuses it,
  // unless `overwrite`. Copying an item onto itself changes nothing.
  virtual void copy_item(const text& file, const text& from, const text& to, bool overwrite,
                         create_style style);

  // A conditional change: writes `content` to the item (creating it when missing, as
  // write_item) or, for a null `content`, deletes it (as delete_item), when `condition` holds
  // for the item as it is now; returns false and changes nothing when it does not. Host errors
  // as read_item, write_item and delete_item. The default reads, compares and writes in
  // separate calls, so callers must keep other changes of the item out meanwhile (the REST
  // service holds its item lock); a host with transactions checks and changes in one.
  virtual bool change_item_if(const text& file, const text& item, const text* content,
                              const item_condition& condition);

  // Modification times, beyond the component's table: nanoseconds since 1970-01-01 UTC. A host
  // that keeps none has these defaults, which answer no times and set none.
  //
  // The items of `file` that have a time, with it, in the order list_items gives them. Host
  // errors as list_items.
  virtual std::vector<std::pair<text, std::int64_t>> list_item_times(const text& file);
  // Sets the item's time; false, changing nothing, when the host keeps no times. Host errors as
  // stat_item (a missing item is 202).
  virtual bool set_item_time(const text& file, const text& item, std::int64_t nanoseconds);
};

}  // namespace ombrix
