// Conditional item requests and the other opt-ins over real sockets: requests without them are
// answered byte for byte as before; those with them get entity tags, 412 and the extra members.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

const std::string item = "file/" + customers + "/C2";

using Conditional = client_test;

// The ETag header line of a response, empty when it has none.
std::string etag_of(const http_response& response) {
  const std::size_t at = response.headers.find("\r\nETag: \"");
  if (at == std::string::npos) return {};
  const std::size_t start = at + 9;
  return response.headers.substr(start, response.headers.find('"', start) - start);
}

TEST_F(Conditional, PlainRequestsAreAnsweredExactlyAsBefore) {
  expect_responses(client(), {
      {"GET", item, "", item_response("C2", c2_data)},
      {"PUT", item, data_body(c2_data), empty_success()},
      {"GET", "dir/MAIN", "", json_response(main_listing)},
      {"DELETE", "file/" + customers + "/C3", "", empty_success()},
  });
  // A rename onto an existing item is refused as before, and changes nothing.
  EXPECT_TRUE(is_host_error(client().get(api + "rename/" + customers + "/C2?newname=" + customers +
                                         "/C1"),
                            500, "204"));
  EXPECT_EQ(client().get(api + "file/" + customers + "/C1").raw, item_response("C1", c1_data));
}

TEST_F(Conditional, TagsGuardWritesAndDeletes) {
  rest_client& c = client();
  const http_response read = c.call("GET", api + item + "?etag=1");
  ASSERT_EQ(read.status, 200);
  const std::string tag = etag_of(read);
  ASSERT_EQ(tag.size(), 32u) << read.raw;
  EXPECT_EQ(read.body, item_json("C2", c2_data) + "\r\n");

  // A write on the tag read succeeds and tells the new tag; one on the old tag is refused.
  const http_response first =
      c.call("PUT", api + item, data_body(R"(["v4","REST change"])"), {"If-Match: \"" + tag + "\""});
  EXPECT_EQ(first.raw, header_block(200) + "Content-Type:application/json\r\nETag: \"" +
                           etag_of(first) + "\"\r\n\r\n");
  EXPECT_NE(etag_of(first), tag);
  const std::string refused_412 = rest_error(
      412, "Precondition failed: the item is not in the state the request expects.");
  EXPECT_EQ(c.call("PUT", api + item, data_body(R"(["V3","keep"])"), {"If-Match: \"" + tag + "\""})
                .raw,
            refused_412);
  EXPECT_EQ(c.call("DELETE", api + item, "", {"If-Match: \"" + tag + "\""}).raw, refused_412);
  EXPECT_EQ(c.get(api + item).raw, item_response("C2", R"(["v4","REST change"])"));
  EXPECT_EQ(c.call("GET", api + item, "", {"If-Match: \"" + tag + "\""}).raw, refused_412);

  // Create only: refused over an item, done where there is none.
  EXPECT_EQ(c.call("PUT", api + item, data_body(R"(["x"])"), {"If-None-Match: *"}).raw, refused_412);
  const http_response created =
      c.call("PUT", api + "file/" + customers + "/NEW", data_body(R"(["n"])"), {"If-None-Match: *"});
  EXPECT_EQ(created.status, 200);
  EXPECT_EQ(c.get(api + "file/" + customers + "/NEW").raw, item_response("NEW", R"(["n"])"));
  EXPECT_EQ(c.call("DELETE", api + "file/" + customers + "/NEW", "",
                   {"If-Match: \"" + etag_of(created) + "\""}).raw,
            empty_success());
}

TEST_F(Conditional, OptInsOfListingsRenamesAndIds) {
  rest_client& c = client();
  const http_response listing = c.get(api + "dir/" + customers + "?data=1");
  ASSERT_EQ(listing.status, 200);
  EXPECT_NE(listing.body.find(R"({"id":"C2","attr":0,"size":13,"data":["Bob Jones","42"],"etag":")"),
            std::string::npos)
      << listing.body;
  // Rename over an existing item replaces it in one step when asked to.
  EXPECT_EQ(c.get(api + "rename/" + customers + "/C2?newname=" + customers + "/C1&replace=1").raw,
            empty_success());
  EXPECT_EQ(c.get(api + "file/" + customers + "/C1").raw, item_response("C1", c2_data));
  EXPECT_EQ(c.get(api + "file/" + customers + "/C2").status, 404);
  // Ids a path cannot carry.
  EXPECT_EQ(c.put(api + "file/" + customers + "?id=a%2Fb", data_body(R"(["s"])")).raw, empty_success());
  EXPECT_EQ(c.get(api + "file/" + customers + "?id=a%2Fb").raw, item_response("a/b", R"(["s"])"));
  EXPECT_EQ(c.get(api + "rename/" + customers + "?id=a%2Fb&newid=..").raw, empty_success());
  EXPECT_EQ(c.get(api + "file/" + customers + "?id=..").raw, item_response("..", R"(["s"])"));
}

// The listing entry of `id` in a dir reply: from its opening brace to its closing one.
std::string entry_of(const std::string& body, const std::string& id) {
  const std::size_t at = body.find("{\"id\":\"" + id + "\"");
  if (at == std::string::npos) return {};
  return body.substr(at, body.find('}', at) - at + 1);
}

// Times come only with dir?data=1 (last member, nanoseconds); POST touch sets one exactly, a
// write moves it.
TEST_F(Conditional, TimesAreListedWithDataAndSetByTouch) {
  rest_client& c = client();
  const std::string touch = api + "touch/" + customers + "/C2?mtime=";
  if (windows_programs()) {
    // Through COM the host component keeps no times: touch says so, and nothing changes.
    EXPECT_EQ(c.post(touch + "1", "").raw,
              rest_error(400, "The host keeps no modification times."));
    return;
  }
  EXPECT_EQ(c.post(touch + "1234567890123456789", "").raw, empty_success());
  const std::string listed = entry_of(c.get(api + "dir/" + customers + "?data=1").body, "C2");
  EXPECT_TRUE(listed.ends_with(R"(,"mtime":1234567890123456789})")) << listed;
  EXPECT_EQ(entry_of(c.get(api + "dir/" + customers).body, "C2"),
            R"({"id":"C2","attr":0,"size":13})");
  EXPECT_EQ(c.put(api + item, data_body(c2_data)).raw, empty_success());
  const std::string rewritten = entry_of(c.get(api + "dir/" + customers + "?data=1").body, "C2");
  EXPECT_NE(rewritten.find(R"(,"mtime":)"), std::string::npos) << rewritten;
  EXPECT_EQ(rewritten.find("1234567890123456789"), std::string::npos) << rewritten;

  for (const std::string bad : {"", "12x", "1.5", "9999999999999999999"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(c.post(touch + bad, "").status, 400);
  }
  EXPECT_EQ(c.post(api + "touch/" + customers + "/C2", "").status, 400);
  EXPECT_TRUE(is_host_error(c.post(api + "touch/" + customers + "/NONE?mtime=1", ""), 404, "202"));
}

}  // namespace
}  // namespace ombrix::e2e
