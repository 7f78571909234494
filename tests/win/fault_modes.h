// What the test component ombrix-fault-host.dll offers and the tests rely on: one class per
// fault, each under its own ProgID, the codes and texts its failures carry, and its exports.
// Constants only; tests only, never shipped.
#pragma once

#include <objbase.h>

#include <iterator>

#include "host/com_error.h"

namespace ombrix::fault {

enum class mode : unsigned char {
  recorder,               // every call succeeds; texts are "m" + the method index (10: item_text)
  connect_false,          // as recorder, but connect answers false with S_OK
  connect_fails,          // connect fails with connect_failure and error information
  fails_with_info,        // every operation but 7, 28 and 47 fails with operation_failure
  fails_80_only,          // the same, with error information offered for the 8.0 interface only
  fails_no_support,       // the same, error information left but no ISupportErrorInfo
  fails_no_info,          // the same operations fail with E_FAIL and no error information
  setting_fails,          // method 28 fails with setting_failure and error information
  no_generation,          // neither generation's interface is offered
};
// ProgID "OmbrixFault.<name>", CLSID {5E0F0A17-7B1C-4D2A-9C3E-0000000000NN}, NN the mode.
inline constexpr const wchar_t* progids[] = {
    L"OmbrixFault.Recorder", L"OmbrixFault.ConnectFalse", L"OmbrixFault.ConnectFails", L"OmbrixFault.FailsWithInfo", L"OmbrixFault.Fails80Only",
    L"OmbrixFault.FailsNoSupport", L"OmbrixFault.FailsNoInfo", L"OmbrixFault.SettingFails", L"OmbrixFault.NoGeneration"};
inline constexpr int mode_count = static_cast<int>(std::size(progids));
inline constexpr wchar_t unregistered_progid[] = L"OmbrixFault.Unregistered";
inline const wchar_t* progid_of(mode which) { return progids[static_cast<int>(which)]; }
inline CLSID class_of(int which) {
  return {0x5e0f0a17, 0x7b1c, 0x4d2a, {0x9c, 0x3e, 0, 0, 0, 0, 0, static_cast<unsigned char>(which)}};
}

inline constexpr hresult connect_failure = host_error_code(291);
inline constexpr char16_t connect_failure_text[] = u"Server refused: caf\u00e9";
inline constexpr hresult operation_failure = host_error_code(201);
inline constexpr char16_t operation_failure_text[] = u"Item not here: \u00e9t\u00e9";
inline constexpr hresult setting_failure = e_accessdenied;
inline constexpr char16_t setting_failure_text[] = u"Setting refused";
// What read_item (method 10) answers in the succeeding modes: marks, CR LF, a NUL.
inline constexpr char16_t item_text[] = u"A\uF8FDB\uF8FCC\r\nD\0E";
inline constexpr int item_text_length = static_cast<int>(std::size(item_text)) - 1;
// What methods 39 and 40 answer in the succeeding modes.
inline constexpr short flag_1_answer = -1, flag_2_answer = 7;

// The DLL's test exports (GetProcAddress): fault_journal() is one line per IVelquorServer call
// since the last fault_reset(), "<method>[ <argument>]...\n", a BSTR as null or in double
// quotes with every unit outside printable ASCII (and '"', '\') as \uXXXX, numbers in decimal,
// valid until the next call; fault_live_objects() counts the instances not yet released.
inline constexpr wchar_t dll_name[] = L"ombrix-fault-host.dll";

}  // namespace ombrix::fault
