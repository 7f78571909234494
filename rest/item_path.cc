#include "rest/item_path.h"

#include "host/host_errors.h"

#include "base/text_helpers.h"
#include "rest/environment.h"
#include "json/reply_texts.h"
#include "base/diagnostics.h"

namespace ombrix {

namespace {

// The three refusals of one action: message and diagnostic text per check. The codes are fixed
// per check (file not found, account not found, then invalid name for the item actions).
struct refusal_texts {
  std::string_view missing_message;
  std::string_view missing_diagnostic;
  std::string_view root_message;
  std::string_view root_diagnostic;
  std::string_view path_message;
  std::string_view path_diagnostic;
};

constexpr std::string_view file_name_missing = "File name missing from URL path.";
constexpr std::string_view root_not_valid = "File MD, VOC or account name is not valid.";
constexpr std::string_view path_incomplete = "File name or item ID missing from URL path.";

constexpr refusal_texts read_texts{
    file_name_missing, "file name missing for read: ",
    root_not_valid,    "invalid MD/VOC for read: ",
    path_incomplete,   "invalid path for read: "};
constexpr refusal_texts update_create_texts{
    file_name_missing, "file name missing for update/create: ",
    root_not_valid,    "invalid MD/VOC for update/create: ",
    path_incomplete,   "invalid path for update/create: "};
constexpr refusal_texts remove_texts{
    file_name_missing, "invalid path for delete: ",
    root_not_valid,    "invalid MD/VOC for delete: ",
    path_incomplete,   "invalid path for delete: "};
constexpr refusal_texts stat_texts{
    file_name_missing, "file name missing for stat: ",
    root_not_valid,    "invalid MD/VOC for stat: ",
    path_incomplete,   "invalid path for stat: "};
constexpr refusal_texts rename_texts{
    "Old file name missing from URL path.", "invalid path for rename: ",
    "Old MD, VOC or account name is not valid.", "invalid MD/VOC for rename: ",
    "Old file name or item ID missing from URL path.", "invalid old path for rename: "};
constexpr refusal_texts directory_texts{
    file_name_missing, "invalid path for dir: ",
    root_not_valid,    "invalid MD/VOC for dir: ",
    file_name_missing, "invalid path for dir: "};

const refusal_texts& texts_for(path_action action) {
  switch (action) {
    case path_action::read: return read_texts;
    case path_action::update_create: return update_create_texts;
    case path_action::remove: return remove_texts;
    case path_action::stat: return stat_texts;
    case path_action::rename: return rename_texts;
  }
  return read_texts;
}

bool refuse(const settings& config, std::string& reply, std::string_view code,
            std::string_view message, std::string_view diagnostic,
            const std::vector<std::string>& rest) {
  if (config.debug_enabled(1)) {
    std::string line(diagnostic);
    line += join(rest, "/");
    write_diagnostic(line);
  }
  make_error_reply(reply, path_refusal_status, code, message);
  return false;
}

// The first two checks, shared by the item actions and the listing. False after a refusal.
bool check_root(const refusal_texts& texts, const std::vector<std::string>& rest,
                const kelm_info& session, const settings& config, std::string& reply) {
  if (rest.empty()) {
    return refuse(config, reply, host_error_text(host_error::file_not_found), texts.missing_message,
                  texts.missing_diagnostic, rest);
  }
  if (!is_root_name(rest.front(), session, config)) {
    return refuse(config, reply, host_error_text(host_error::account_not_found), texts.root_message,
                  texts.root_diagnostic, rest);
  }
  return true;
}

// F for the default data section (F equals D), otherwise "F,D".
text data_section_name(const std::string& file, const std::string& section) {
  if (file == section) return from_utf8(file);
  return from_utf8(file + "," + section);
}

}  // namespace

bool is_root_name(std::string_view segment, const kelm_info& session, const settings& config) {
  if (config.case_insensitive) {
    return equals_ignore_case(segment, session.md_name) ||
           equals_ignore_case(segment, session.account_name);
  }
  return segment == session.md_name || segment == session.account_name;
}

std::optional<item_path> resolve_item_path(const std::vector<std::string>& rest,
                                           const kelm_info& session) {
  switch (rest.size()) {
    case 2: return item_path{from_utf8(session.md_name), from_utf8(rest[1])};
    case 3: return item_path{from_utf8("DICT " + rest[1]), from_utf8(rest[2])};
    case 4: return item_path{data_section_name(rest[1], rest[2]), from_utf8(rest[3])};
    default: return std::nullopt;
  }
}

std::optional<text> resolve_directory_path(const std::vector<std::string>& rest,
                                           const kelm_info& session) {
  switch (rest.size()) {
    case 1: return from_utf8(session.md_name);
    case 2: return from_utf8("DICT " + rest[1]);
    case 3: return data_section_name(rest[1], rest[2]);
    default: return std::nullopt;
  }
}

std::optional<item_path> checked_item_path(path_action action, const std::vector<std::string>& rest,
                                           const kelm_info& session, const settings& config,
                                           std::string& reply) {
  const refusal_texts& texts = texts_for(action);
  if (!check_root(texts, rest, session, config, reply)) return std::nullopt;
  std::optional<item_path> path = resolve_item_path(rest, session);
  if (!path)
    refuse(config, reply, host_error_text(host_error::invalid_name), texts.path_message,
           texts.path_diagnostic, rest);
  return path;
}

std::optional<text> checked_directory_path(const std::vector<std::string>& rest,
                                           const kelm_info& session, const settings& config,
                                           std::string& reply) {
  if (!check_root(directory_texts, rest, session, config, reply)) return std::nullopt;
  std::optional<text> file = resolve_directory_path(rest, session);
  if (!file) {
    refuse(config, reply, host_error_text(host_error::file_not_found), directory_texts.path_message,
           directory_texts.path_diagnostic, rest);
  }
  return file;
}

std::vector<std::string> item_segments(const std::vector<std::string>& rest,
                                       std::string_view id_parameter) {
  std::vector<std::string> segments = rest;
  if (!id_parameter.empty()) segments.emplace_back(id_parameter);
  return segments;
}

}  // namespace ombrix
