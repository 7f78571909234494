// The BSTR handle and the error information of a failed call, on the real OLE Automation
// allocator and error objects.
#include "host/com/bstr_handle.h"

#include <oleauto.h>

#include <gtest/gtest.h>

#include "host/com/error_info.h"

namespace ombrix {
namespace {

struct make_case {
  const char* name;
  bstr_handle (*make)(const text&);
  text from;
  bool null;          // the BSTR is null
  std::size_t size;   // SysStringLen
  text read;          // str()
};

class bstr_make_test : public ::testing::TestWithParam<make_case> {};

TEST_P(bstr_make_test, HoldsTheExpectedUnits) {
  const make_case& c = GetParam();
  const bstr_handle handle = c.make(c.from);
  EXPECT_EQ(handle.get() == nullptr, c.null);
  EXPECT_EQ(handle.size(), c.size);
  EXPECT_EQ(handle.str(), c.read);
  if (!c.null) {
    EXPECT_EQ(::SysStringLen(handle.get()), c.size);
    EXPECT_EQ(handle.get()[c.size], L'\0');  // BSTRs end in a NUL beyond their length
  }
}

const text with_nul(u"ab\0c", 4);

INSTANTIATE_TEST_SUITE_P(
    bstr_handle, bstr_make_test,
    ::testing::Values(make_case{"EmptyUpToNulIsNull", &bstr_handle::up_to_nul, u"", true, 0, u""},
                      make_case{"EmptyWholeIsNull", &bstr_handle::whole, u"", true, 0, u""},
                      make_case{"UpToNulStopsAtNul", &bstr_handle::up_to_nul, with_nul, false, 2,
                                u"ab"},
                      make_case{"WholeKeepsNul", &bstr_handle::whole, with_nul, false, 4,
                                with_nul},
                      make_case{"LeadingNulUpToNulIsEmpty", &bstr_handle::up_to_nul,
                                text(u"\0x", 2), false, 0, u""},
                      make_case{"MarksAndSurrogates", &bstr_handle::whole,
                                u"\uF8FD\uF8FC\xD83D\xDE00", false, 4,
                                u"\uF8FD\uF8FC\xD83D\xDE00"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(bstr_handle, NullHandleIsEmptyText) {
  const bstr_handle handle;
  EXPECT_EQ(handle.get(), nullptr);
  EXPECT_EQ(handle.size(), 0u);
  EXPECT_EQ(handle.str(), u"");
  EXPECT_EQ(handle.use_count(), 0);
}

TEST(bstr_handle, AdoptTakesOverTheBstrWithoutCopying) {
  const BSTR raw = ::SysAllocStringLen(L"x\0y", 3);
  const bstr_handle handle = bstr_handle::adopt(raw);
  EXPECT_EQ(handle.get(), raw);
  EXPECT_EQ(handle.str(), text(u"x\0y", 3));
  EXPECT_EQ(handle.use_count(), 1);
}

TEST(bstr_handle, AdoptedNullIsEmptyText) {
  const bstr_handle handle = bstr_handle::adopt(nullptr);
  EXPECT_EQ(handle.get(), nullptr);
  EXPECT_EQ(handle.str(), u"");
  EXPECT_EQ(handle.use_count(), 1);
}

TEST(bstr_handle, CopiesShareOneBstrAndCountIt) {
  bstr_handle first = bstr_handle::up_to_nul(u"shared");
  const BSTR raw = first.get();
  {
    const bstr_handle second = first;
    EXPECT_EQ(second.get(), raw);
    EXPECT_EQ(first.use_count(), 2);
    bstr_handle third;
    third = second;
    EXPECT_EQ(third.get(), raw);
    EXPECT_EQ(first.use_count(), 3);
    third = third;  // self-assignment keeps the count
    EXPECT_EQ(first.use_count(), 3);
  }
  EXPECT_EQ(first.use_count(), 1);
  EXPECT_EQ(first.str(), u"shared");
  first = bstr_handle();
  EXPECT_EQ(first.use_count(), 0);
}

TEST(bstr_handle, OutOwnsWhatACallWrites) {
  bstr_handle result;
  BSTR* slot = result.out();
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(*slot, nullptr);
  *slot = ::SysAllocString(L"answer");
  EXPECT_EQ(result.str(), u"answer");
}

// An error object made by the system's own CreateErrorInfo.
IErrorInfo* system_error_info(const wchar_t* description) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(::CreateErrorInfo(&create))) return nullptr;
  create->SetDescription(const_cast<LPOLESTR>(description));
  IErrorInfo* info = nullptr;
  create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
  create->Release();
  return info;
}

TEST(com_error_info, DescriptionIsTheErrorObjectsText) {
  IErrorInfo* info = system_error_info(L"Item 'X' not found \u00e9");
  ASSERT_NE(info, nullptr);
  const com_error_info error(info);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(error.description(), u"Item 'X' not found \u00e9");
}

TEST(com_error_info, NoInformationHasEmptyDescription) {
  const com_error_info error;
  EXPECT_TRUE(error.empty());
  EXPECT_EQ(error.description(), u"");
}

}  // namespace
}  // namespace ombrix
