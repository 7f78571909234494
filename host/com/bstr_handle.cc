#include "host/com/bstr_handle.h"

#include <oleauto.h>

#include <new>

#include "host/com_error.h"

namespace ombrix {

bstr_handle::bstr_handle(const bstr_handle& other) noexcept : block_(other.block_) {
  if (block_ != nullptr) ++block_->count;
}

bstr_handle& bstr_handle::operator=(const bstr_handle& other) noexcept {
  block* const shared = other.block_;  // before release(), which empties a self-assignment
  if (shared != nullptr) ++shared->count;
  release();
  block_ = shared;
  return *this;
}

void bstr_handle::release() noexcept {
  if (block_ != nullptr && --block_->count == 0) {
    ::SysFreeString(block_->value);
    delete block_;
  }
  block_ = nullptr;
}

bstr_handle bstr_handle::adopt(BSTR adopted) {
  bstr_handle handle;
  handle.block_ = new (std::nothrow) block;
  if (handle.block_ == nullptr) {
    ::SysFreeString(adopted);
    issue_com_error(e_outofmemory);
  }
  handle.block_->value = adopted;
  return handle;
}

bstr_handle bstr_handle::up_to_nul(const text& from) {
  if (from.empty()) return {};
  const BSTR value = ::SysAllocString(reinterpret_cast<const OLECHAR*>(from.c_str()));
  if (value == nullptr) issue_com_error(e_outofmemory);
  return adopt(value);
}

bstr_handle bstr_handle::whole(const text& from) {
  if (from.empty()) return {};
  const BSTR value = ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(from.data()),
                                         static_cast<UINT>(from.size()));
  if (value == nullptr) issue_com_error(e_outofmemory);
  return adopt(value);
}

BSTR* bstr_handle::out() {
  *this = adopt(nullptr);
  return &block_->value;
}

std::size_t bstr_handle::size() const {
  const BSTR value = get();
  return value == nullptr ? 0 : ::SysStringLen(value);
}

text bstr_handle::str() const {
  const BSTR value = get();
  if (value == nullptr) return {};
  return text(reinterpret_cast<const char16_t*>(value), ::SysStringLen(value));
}

}  // namespace ombrix
