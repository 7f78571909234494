// bstr_handle: a shared, reference-counted handle to one BSTR, the form in which texts cross to
// the host component. Copies share the BSTR; the last one to go frees it with SysFreeString. The
// count is atomic, yet a handle and its copies are used by one thread at a time. A null handle,
// a handle holding a null BSTR and one holding an empty BSTR are all empty text. Allocation
// failures throw _com_error with E_OUTOFMEMORY. Windows builds only.
#pragma once

#include <oaidl.h>

#include <atomic>
#include <cstddef>

#include "host/text.h"

namespace ombrix {

class bstr_handle {
 public:
  bstr_handle() = default;  // null
  ~bstr_handle() { release(); }
  bstr_handle(const bstr_handle& other) noexcept;
  bstr_handle& operator=(const bstr_handle& other) noexcept;

  // A copy of `from` up to its first NUL (SysAllocString); null for empty text.
  static bstr_handle up_to_nul(const text& from);
  // A copy of all of `from`, embedded NULs kept (SysAllocStringLen); null for empty text.
  static bstr_handle whole(const text& from);
  // Takes over `adopted` (a component's result, may be null) without copying it. On an
  // allocation failure `adopted` is freed before the error is thrown.
  static bstr_handle adopt(BSTR adopted);

  // Where a component call writes its result; the handle owns whatever is written there, also
  // when the call fails. REQUIRES: the handle is null.
  BSTR* out();

  BSTR get() const { return block_ == nullptr ? nullptr : block_->value; }
  // SysStringLen; 0 for a null handle or BSTR.
  std::size_t size() const;
  // The 16-bit units, embedded NULs included; empty for a null handle or BSTR.
  text str() const;
  // How many handles share this BSTR; 0 for a null handle.
  long use_count() const { return block_ == nullptr ? 0 : block_->count.load(); }

 private:
  struct block {
    std::atomic<long> count{1};
    BSTR value = nullptr;
  };
  void release() noexcept;

  block* block_ = nullptr;
};

}  // namespace ombrix
