// Real HTTP clients at their default settings against the real server. Chunked bodies, the
// interim 100 response and reading a refused body to its end are pinned by the connection's
// own tests; here a refusal from the REST layer reaches a client that is still sending.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

using HttpClients = client_test;

// Regression: a reply given before the body was read (here 401, from the head alone) was
// followed by a close with the body unread, a reset that made clients still sending lose it.
// The standard library's client sends the whole body at once, whatever it asked for, and gives
// up at the first failed send: refused for its path, and for its token.
TEST_F(HttpClients, ARefusalOfATwentyMebibyteUploadReachesTheClient) {
  const run_result python = run_program({"python3", "-c", R"(
import sys, http.client
body = b'{"data":["' + b'z' * (20 * 1024 * 1024) + b'"]}'
for target in ['no-slash', '/quelm/restfs/file/MAIN/CUSTOMERS/CUSTOMERS/C9']:
    connection = http.client.HTTPConnection('127.0.0.1', int(sys.argv[1]))
    connection.request('PUT', target, body=body, headers={'Authorization': 'Bearer ' + sys.argv[2], 'Expect': '100-continue'})
    reply = connection.getresponse()
    print(reply.status, reply.read().decode())
)", std::to_string(port()), token_for_sid("ff")});
  EXPECT_EQ(python.out, "400 " + error_json(400, "path missing") + "\n401 " + error_json(401, unknown_session) + "\n") << python.err;
  EXPECT_EQ(client().get(api + "logout").raw, empty_success());
}

}  // namespace
}  // namespace ombrix::e2e
