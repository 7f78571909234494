// An in-memory bidirectional stream: reads come from a fixed input text, writes collect in an
// output text. Lets the request reader run without a socket (unit tests, fuzzing). Not
// thread-safe; one stream per request, like the socket stream.
#pragma once

#include <iostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace ombrix {

class memory_buffer : public std::streambuf {
 public:
  // REQUIRES: `input` outlives the buffer.
  explicit memory_buffer(std::string_view input);
  memory_buffer(const memory_buffer&) = delete;
  memory_buffer& operator=(const memory_buffer&) = delete;

  const std::string& output() const { return output_; }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* data, std::streamsize count) override;

 private:
  std::string output_;
};

class memory_stream : public std::iostream {
 public:
  // REQUIRES: `input` outlives the stream.
  explicit memory_stream(std::string_view input);
  memory_stream(const memory_stream&) = delete;
  memory_stream& operator=(const memory_stream&) = delete;

  // Everything written so far.
  const std::string& output() const { return buffer_.output(); }

 private:
  memory_buffer buffer_;
};

}  // namespace ombrix
