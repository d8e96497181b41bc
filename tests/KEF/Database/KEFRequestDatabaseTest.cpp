#include "KEF/Database/KEFRequestDatabase.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DatabaseTestUtil.h"
#include "KEF/Database/DatabaseTransaction.h"

using tvan::DatabaseTransaction;
using tvan::KEFRequestDatabase;

using dbtest::requests;
using dbtest::update;

TEST(KEFRequestDatabase, UpdatingTwiceKeepsOneRowWithTheLastStatus) {
  dbtest::ScratchDatabase scratch;
  ASSERT_TRUE(update("req-1", "RUNNING"));
  const int64_t firstChange = requests("req-1").at(0).changedAt;
  ASSERT_TRUE(update("req-1", "DONE"));
  ASSERT_TRUE(update("req-2", "RUNNING"));

  EXPECT_EQ(dbtest::sqlNumber(scratch.path(), "SELECT count(*) FROM requests WHERE uid = 'req-1'"),
            1);
  const auto one = requests("req-1");
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].status, "DONE");
  EXPECT_GE(one[0].changedAt, firstChange);
  const auto all = requests();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[1].uid + " " + all[1].status, "req-2 RUNNING");
  EXPECT_TRUE(requests("unknown").empty());
}

TEST(KEFRequestDatabase, RefusedAndRolledBackUpdatesChangeNothing) {
  dbtest::ScratchDatabase scratch;
  ASSERT_TRUE(update("req-1", "RUNNING"));
  {
    DatabaseTransaction transaction;
    KEFRequestDatabase database(&transaction);
    EXPECT_FALSE(database.updateStatus("req-1", "DONE"));  // not started
    ASSERT_TRUE(transaction.start());
    EXPECT_FALSE(database.updateStatus("", "DONE"));
    EXPECT_NE(transaction.getLastError().find("uid"), std::string::npos);
    EXPECT_TRUE(database.updateStatus("req-1", "ERROR"));
    EXPECT_TRUE(transaction.rollback());
  }
  EXPECT_EQ(requests("req-1").at(0).status, "RUNNING");
}
