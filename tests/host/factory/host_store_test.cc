#include "host/factory/host_store.h"

#include <gtest/gtest.h>

#include "host/embedded/embedded_host.h"
#include "host/pg/pg_host.h"
#include "host/pg/pg_store.h"
#include "tests/host/pg/pg_test_database.h"

namespace ombrix {
namespace {

using HostStore = testing::temporary_data_root;

// The PostgreSQL module as the build leaves it, beside the programs.
const std::string module = std::string(OMBRIX_BINARY_DIR) + "/libombrix-postgresql.so";
using PostgresqlHostStore = testing::pg_data_root_test;

TEST_F(PostgresqlHostStore, AConnectionTextIsAPostgresqlStoreForBothGenerations) {
  const testing::test_database& database = *database_;
  pg_store::open(database.conninfo())->create_account(u"SALES", u"MD");
  std::shared_ptr<host_store> store = host_store::open({database.conninfo(), "", "", module});
  ASSERT_NE(store->postgresql(), nullptr);
  for (int generation : {71, 80}) {
    std::shared_ptr<velquor_base> host = store->create(settings{.host_version = generation}, "SALES**c");
    EXPECT_NE(dynamic_cast<pg_host*>(host.get()), nullptr);
    EXPECT_EQ(host->get_property_4(), from_utf8(database.name()));
  }
  try {
    store->create(settings{.host_version = 72}, "SALES**c");
    ADD_FAILURE() << "created";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), e_nointerface);
  }
  EXPECT_FALSE(std::filesystem::exists(root_)) << "no data root with a PostgreSQL store";
}

// A bad connection text, an unreachable server, or a store named without its module, is one
// sentence (naming the module), and no data root.
TEST_F(HostStore, ABadChoiceOrAMissingModuleIsOneSentence) {
  const std::pair<host_store_choice, std::string> rows[] = {
      {{"postgresql://[::1", "", "", module}, "The store 'postgresql://[::1' is not a valid PostgreSQL connection ("},
      {{"postgresql:///x", root_, "", "/nonexistent/libombrix-postgresql.so"},
       "The PostgreSQL store cannot be used: its module /nonexistent/libombrix-postgresql.so did not load ("},
      {{"postgresql:///x?host=/nonexistent-ombrix&port=1", "", "", module}, "Cannot open the store in PostgreSQL database 'postgresql:///x?host=/nonexistent-ombrix&port=1': "},
  };
  for (const auto& [choice, start] : rows) {
    try {
      host_store::open(choice);
      ADD_FAILURE() << "opened";
    } catch (const host_store_error& error) {
      const std::string message = error.what();
      EXPECT_TRUE(message.starts_with(start) && message.ends_with(".") && message.find('\n') == std::string::npos) << message;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(root_));
}

}  // namespace
}  // namespace ombrix
