// The host component's interface IVelquorServer as both sides of the COM boundary see it: its
// two interface identifiers (one per generation, one layout), the ProgIDs and the indexes of the
// methods in its table of functions (three IUnknown and four IDispatch entries come first).
// Constants only; Windows builds only.
#pragma once

#include <objbase.h>

namespace ombrix::com {

// {2AC04744-0C39-4CB8-91F0-591AAA948220}
inline constexpr IID iid_velquor71 = {
    0x2ac04744, 0x0c39, 0x4cb8, {0x91, 0xf0, 0x59, 0x1a, 0xaa, 0x94, 0x82, 0x20}};
// {3F296AFC-5CF2-4E49-9415-B55B7ADC55DC}
inline constexpr IID iid_velquor80 = {
    0x3f296afc, 0x5cf2, 0x4e49, {0x94, 0x15, 0xb5, 0x5b, 0x7a, 0xdc, 0x55, 0xdc}};

inline constexpr wchar_t progid_velquor71[] = L"Velquor71.Server";
inline constexpr wchar_t progid_velquor80[] = L"Velquor80.Server";

// Indexes in the table of functions.
enum method : int {
  method_connect = 7,
  method_quit = 9,
  method_read_item = 10,
  method_write_item = 11,
  method_create_item = 12,
  method_delete_item = 13,
  method_invoke_pair = 15,
  method_query_text_1 = 16,
  method_call_subroutine = 17,
  method_setting_28 = 28,
  method_server_name = 32,
  method_property_2 = 33,
  method_property_3 = 34,
  method_property_4 = 35,
  method_property_5 = 36,
  method_list_items = 37,
  method_stat_item = 38,
  method_query_flag_1 = 39,
  method_query_flag_2 = 40,
  method_query_text_2 = 41,
  method_setting_47 = 47,
  method_count = 48,
};

}  // namespace ombrix::com
