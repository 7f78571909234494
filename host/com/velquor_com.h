// The COM bindings of the host interface: velquor71 and velquor80 reach the host component
// registered as "Velquor71.Server" / "Velquor80.Server" through the generation's IVelquorServer.
// One object per request, created, used and released on one thread inside a single-threaded
// apartment. Every failure is thrown as _com_error. Windows builds only.
#pragma once

#include <unknwn.h>

#include "host/velquor_base.h"

namespace ombrix {

// A counted reference to a component's IUnknown, released on destruction. Empty by default.
class com_unknown {
 public:
  com_unknown() = default;
  explicit com_unknown(IUnknown* adopted) : pointer_(adopted) {}  // takes over one reference
  ~com_unknown() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  com_unknown(const com_unknown&) = delete;
  com_unknown& operator=(const com_unknown&) = delete;

  IUnknown* get() const { return pointer_; }
  // Releases the held reference and takes over `adopted`.
  void reset(IUnknown* adopted) {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = adopted;
  }

 private:
  IUnknown* pointer_ = nullptr;
};

// What tells the generations apart on the COM side.
struct velquor_generation {
  const wchar_t* progid;
  const IID* iid;
};

// The binding shared by both generations. Its only state is m_server.
// Construction: CLSIDFromProgID, CoCreateInstance (class context 23), OleRun, QueryInterface for
// the generation's interface, methods 28 (1) and 47 (true), then m_server from QueryInterface
// for IUnknown. Each operation queries the generation's interface afresh and calls the method by
// its index in the table of functions.
class velquor_com : public velquor_base {
 public:
  velquor_com(const velquor_com&) = delete;
  velquor_com& operator=(const velquor_com&) = delete;

  void connect(const text& server) override;
  text get_server_name() override;
  text get_property_2() override;
  text get_property_3() override;
  text get_property_4() override;
  text get_property_5() override;
  text read_item(const text& file, const text& item, std::int32_t a, std::int32_t b,
                 std::int32_t c, std::int16_t flag) override;
  void write_item(const text& file, const text& item, const text& content, std::int32_t a,
                  std::int32_t b, std::int32_t c, std::int32_t d) override;
  void create_item(const text& file, const text& item, const text& content) override;
  void delete_item(const text& file, const text& item) override;
  text stat_item(const text& file, const text& item, const text& selector) override;
  std::int16_t query_flag_1(const text& a) override;
  std::int16_t query_flag_2(const text& a, const text& b) override;
  text list_items(const text& file, std::int32_t attribute, std::int32_t max_count,
                  const text& b, const text& selector) override;
  void invoke_pair(const text& a, const text& b) override;
  text query_text_1(const text& a, const text& b, std::int16_t flag) override;
  text call_subroutine(const text& name, const text& first, const text& second) override;
  // The name's default-code-page bytes, each as one unit (host components narrow the units of
  // lines 1 and 2 back to bytes); nullopt when the code page cannot represent it.
  std::optional<text> command_parameter_name(const text& name) const override;
  text query_text_2(std::int32_t value, const text& a) override;
  void quit() override;

 protected:
  explicit velquor_com(const velquor_generation& generation);

 private:
  // The generation's interface, afresh from m_server; the caller releases it.
  IUnknown* generation_interface() const;
  text text_property(int index) const;
  virtual const IID& generation_iid() const = 0;

  com_unknown m_server;
};

class velquor71 final : public velquor_com {
 public:
  velquor71();

 private:
  const IID& generation_iid() const override;
};

class velquor80 final : public velquor_com {
 public:
  velquor80();

 private:
  const IID& generation_iid() const override;
};

}  // namespace ombrix
