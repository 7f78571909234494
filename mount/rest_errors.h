#pragma once
// Maps a REST reply (HTTP status and the "code" member of an error reply) to the errno a file
// operation returns. Pure function, thread safe.

#include <string_view>

namespace ombrix::mount {

// Status 0 stands for "no reply" (server gone, time-out): EIO. Status 200 gives 0. A 401 gives
// EACCES; the caller logs in again once before it reports it. A 412 (a conditional save whose
// item changed meanwhile) gives ESTALE.
int errno_for_reply(int status, std::string_view code);

// The "code" member of an error reply body, empty when there is none.
std::string_view code_of_reply(std::string_view body);

}  // namespace ombrix::mount
