// The BSTR handle and the error information of a failed call, on the real OLE Automation
// allocator and error objects.
#include "host/com/bstr_handle.h"

#include <oleauto.h>

#include <gtest/gtest.h>

#include "host/com/error_info.h"

namespace ombrix {
namespace {

TEST(bstr_handle, MakesNullForEmptyAndCopiesUpToNulOrWhole) {
  const text with_nul(u"ab\0c", 4), marks(u"\uF8FD\uF8FC\xD83D\xDE00");
  const struct {
    bstr_handle (*make)(const text&);
    text from, read;  // read: str(), a null BSTR when empty and `from` is empty too
  } cases[] = {
      {&bstr_handle::up_to_nul, u"", u""}, {&bstr_handle::whole, u"", u""},
      {&bstr_handle::up_to_nul, with_nul, u"ab"}, {&bstr_handle::whole, with_nul, with_nul},
      {&bstr_handle::up_to_nul, text(u"\0x", 2), u""}, {&bstr_handle::whole, marks, marks},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.from.size());
    const bstr_handle handle = c.make(c.from);
    EXPECT_EQ(handle.get() == nullptr, c.from.empty());
    EXPECT_EQ(handle.size(), c.read.size());
    EXPECT_EQ(handle.str(), c.read);
    if (handle.get() != nullptr) {
      EXPECT_EQ(::SysStringLen(handle.get()), c.read.size());
      EXPECT_EQ(handle.get()[c.read.size()], L'\0');  // BSTRs end in a NUL beyond their length
    }
  }
  const bstr_handle null;
  EXPECT_EQ(null.get(), nullptr);
  EXPECT_EQ(null.size(), 0u);
  EXPECT_EQ(null.str(), u"");
  EXPECT_EQ(null.use_count(), 0);
}

TEST(bstr_handle, AdoptsWithoutCopyingAndOwnsWhatACallWrites) {
  const BSTR raw = ::SysAllocStringLen(L"x\0y", 3);
  const bstr_handle handle = bstr_handle::adopt(raw);
  EXPECT_EQ(handle.get(), raw);
  EXPECT_EQ(handle.str(), text(u"x\0y", 3));
  EXPECT_EQ(handle.use_count(), 1);
  const bstr_handle adopted_null = bstr_handle::adopt(nullptr);
  EXPECT_EQ(adopted_null.get(), nullptr);
  EXPECT_EQ(adopted_null.str(), u"");
  EXPECT_EQ(adopted_null.use_count(), 1);
  bstr_handle result;
  BSTR* slot = result.out();
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(*slot, nullptr);
  *slot = ::SysAllocString(L"answer");
  EXPECT_EQ(result.str(), u"answer");
}

TEST(bstr_handle, CopiesShareOneBstrAndCountIt) {
  bstr_handle first = bstr_handle::up_to_nul(u"shared");
  {
    const bstr_handle second = first;
    bstr_handle third;
    third = second;
    third = third;  // self-assignment keeps the count
    EXPECT_EQ(third.get(), first.get());
    EXPECT_EQ(first.use_count(), 3);
  }
  EXPECT_EQ(first.use_count(), 1);
  EXPECT_EQ(first.str(), u"shared");
  first = bstr_handle();
  EXPECT_EQ(first.use_count(), 0);
}

TEST(com_error_info, DescriptionIsTheErrorObjectsTextOrEmpty) {
  ICreateErrorInfo* create = nullptr;
  ASSERT_TRUE(SUCCEEDED(::CreateErrorInfo(&create)));
  create->SetDescription(const_cast<LPOLESTR>(L"Item 'X' not found \u00e9"));
  IErrorInfo* info = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  create->Release();
  ASSERT_NE(info, nullptr);
  const com_error_info error(info);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(error.description(), u"Item 'X' not found \u00e9");
  EXPECT_TRUE(com_error_info().empty());
  EXPECT_EQ(com_error_info().description(), u"");
}

}  // namespace
}  // namespace ombrix
