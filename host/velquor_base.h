// The host server interface: every piece of database work goes through it. One object serves
// one request on one thread and is never shared between threads. Held by std::shared_ptr.
// Every failure is thrown as _com_error; no operation returns a status.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "host/com_error.h"
#include "host/item_tag.h"
#include "host/text.h"

namespace ombrix {

// What callers pass for the numeric arguments of read_item and write_item that no caller uses:
// the host interface has them, the REST service always passes zero.
inline constexpr std::int32_t unused_item_option = 0;
inline constexpr std::int16_t unused_item_flag = 0;

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

  // Connects to the server text "[server*]account*client". Called by create_host_server only.
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
};

}  // namespace ombrix
