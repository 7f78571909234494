#include "http/memory_stream.h"

namespace ombrix {

memory_buffer::memory_buffer(std::string_view input) {
  // The get area only ever reads; the cast is needed by the streambuf interface.
  char* begin = const_cast<char*>(input.data());
  setg(begin, begin, begin + input.size());
}

memory_buffer::int_type memory_buffer::overflow(int_type c) {
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    output_.push_back(traits_type::to_char_type(c));
  }
  return traits_type::not_eof(c);
}

std::streamsize memory_buffer::xsputn(const char* data, std::streamsize count) {
  output_.append(data, static_cast<std::size_t>(count));
  return count;
}

memory_stream::memory_stream(std::string_view input) : std::iostream(nullptr), buffer_(input) {
  rdbuf(&buffer_);
}

}  // namespace ombrix
