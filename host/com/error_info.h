// com_error_info: the error information a host component leaves for a failed call (a counted
// reference to its IErrorInfo, released on destruction), and the rule that raises the failure
// as _com_error. Read it on the thread of the failed call, right after the call and before any
// other COM call: error information is per thread. Windows builds only.
#pragma once

#include <oaidl.h>

#include "host/com_error.h"

namespace ombrix {

class com_error_info {
 public:
  com_error_info() = default;  // no error information
  explicit com_error_info(IErrorInfo* adopted) : info_(adopted) {}  // takes over one reference
  ~com_error_info() {
    if (info_ != nullptr) info_->Release();
  }
  com_error_info(const com_error_info&) = delete;
  com_error_info& operator=(const com_error_info&) = delete;

  // The information `target` left for this thread, when it says (ISupportErrorInfo answering
  // S_OK for `iid`) that it gives some and GetErrorInfo answers S_OK; otherwise none.
  static com_error_info of_failure(IUnknown* target, const IID& iid);

  bool empty() const { return info_ == nullptr; }
  // GetDescription's text when there is information and that call succeeds; otherwise empty.
  text description() const;

 private:
  IErrorInfo* info_ = nullptr;
};

// Throws _com_error(code) carrying the description of the error information `target` gives for
// `iid`. The bindings pass the 7.1 interface identifier for both generations.
// REQUIRES: `target` is the interface whose call just failed with `code`.
[[noreturn]] void issue_com_error(hresult code, IUnknown* target, const IID& iid);

}  // namespace ombrix
