#include "host/com/error_info.h"

#include <oleauto.h>

#include <utility>

#include "host/com/bstr_handle.h"

namespace ombrix {

com_error_info com_error_info::of_failure(IUnknown* target, const IID& iid) {
  ISupportErrorInfo* support = nullptr;
  if (FAILED(target->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support))) ||
      support == nullptr) {
    return {};
  }
  const HRESULT answer = support->InterfaceSupportsErrorInfo(iid);
  support->Release();
  if (answer != S_OK) return {};
  IErrorInfo* info = nullptr;
  if (::GetErrorInfo(0, &info) != S_OK) return {};
  return com_error_info(info);
}

text com_error_info::description() const {
  if (info_ == nullptr) return {};
  BSTR raw = nullptr;
  const HRESULT code = info_->GetDescription(&raw);
  const bstr_handle value = bstr_handle::adopt(raw);
  return SUCCEEDED(code) ? value.str() : text();
}

void issue_com_error(hresult code, IUnknown* target, const IID& iid) {
  const com_error_info info = com_error_info::of_failure(target, iid);
  throw _com_error(code, info.description());
}

}  // namespace ombrix
