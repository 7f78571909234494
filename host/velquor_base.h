// The host server interface: every piece of database work goes through it. One object serves
// one request on one thread and is never shared between threads. Held by std::shared_ptr.
// Every failure is thrown as _com_error; no operation returns a status.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host/com_error.h"
#include "host/text.h"

namespace ombrix {

class velquor_base {
 public:
  virtual ~velquor_base() = default;

  // Slots 1 to 19, in the order of the component's table.
  virtual void connect(const text& server) = 0;
  virtual text get_server_name() = 0;
  virtual text get_property_2() = 0;
  virtual text get_property_3() = 0;  // account name
  virtual text get_property_4() = 0;
  virtual text get_property_5() = 0;  // master dictionary name
  virtual text read_item(const text& file, const text& item, std::int32_t a, std::int32_t b,
                         std::int32_t c, std::int16_t flag) = 0;
  virtual void write_item(const text& file, const text& item, const text& content,
                          std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) = 0;
  virtual void create_item(const text& file, const text& item, const text& content) = 0;
  virtual void delete_item(const text& file, const text& item) = 0;
  virtual text stat_item(const text& file, const text& item, const text& selector) = 0;
  virtual std::int16_t query_flag_1(const text& a) = 0;
  virtual std::int16_t query_flag_2(const text& a, const text& b) = 0;
  virtual text list_items(const text& file, std::int32_t attribute, std::int32_t max_count,
                          const text& b, const text& selector) = 0;
  virtual void invoke_pair(const text& a, const text& b) = 0;
  virtual text query_text_1(const text& a, const text& b, std::int16_t flag) = 0;
  virtual text call_subroutine(const text& name, const text& first, const text& second) = 0;
  virtual text query_text_2(std::int32_t value, const text& a) = 0;
  virtual void quit() = 0;
};

}  // namespace ombrix
