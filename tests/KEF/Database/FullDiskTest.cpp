// The request database on a file system that runs full: entries are refused
// with a reason naming the full disk, nothing half-stored remains, and
// storing resumes as soon as there is room again.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "KEF/Database/DatabaseTransaction.h"
#include "KEF/Database/ServiceRequestDatabase.h"
#include "KEF/Database/ServiceRequestDatabaseEntry.h"
#include "SmallFileSystem.h"

namespace {

using tvan::DatabaseTransaction;
using tvan::ServiceRequestDatabase;
using tvan::ServiceRequestDatabaseEntry;

ServiceRequestDatabaseEntry entry(int number) {
  ServiceRequestDatabaseEntry e;
  e.serviceID = "FULL|" + std::to_string(number);
  e.serviceName = "FULL";
  e.messageType = "1";
  e.data = std::string(16 * 1024, static_cast<char>('a' + number % 26));
  e.record = e.data;
  return e;
}

TEST(DatabaseFullDisk, RefusesEntriesUntilThereIsRoomAgain) {
  testutil::SmallFileSystem fs("3m");
  if (!fs.mounted()) GTEST_SKIP() << fs.skipReason();
  const std::string path = fs.file("requests.db");
  {
    // Room to give back later.
    std::ofstream filler(fs.file("filler"), std::ios::binary);
    filler << std::string(512 * 1024, 'f');
  }

  DatabaseTransaction transaction(path);
  ServiceRequestDatabase database(&transaction);
  int stored = 0;
  std::string reason;
  // 3 MB hold fewer than 200 entries of 32 KB (data and record).
  for (int i = 0; i < 200 && reason.empty(); ++i) {
    ASSERT_TRUE(transaction.start()) << transaction.getLastError();
    if (!database.addEntry(entry(i))) {
      reason = transaction.getLastError();
      transaction.rollback();
    } else if (!transaction.commit()) {
      reason = transaction.getLastError();
    } else {
      ++stored;
    }
  }
  ASSERT_FALSE(reason.empty()) << "the file system never ran full";
  EXPECT_GT(stored, 0);
  EXPECT_NE(reason.find("disk full"), std::string::npos) << reason;

  ASSERT_EQ(std::remove(fs.file("filler").c_str()), 0);
  ASSERT_TRUE(transaction.start()) << transaction.getLastError();
  ASSERT_TRUE(database.addEntry(entry(1000))) << transaction.getLastError();
  ASSERT_TRUE(transaction.commit()) << transaction.getLastError();

  // Every committed entry and the new one are there, the refused one is not.
  ASSERT_TRUE(transaction.startReading());
  std::vector<ServiceRequestDatabaseEntry> entries;
  ASSERT_TRUE(database.getEntries(ServiceRequestDatabase::Selection{}, entries))
      << transaction.getLastError();
  transaction.commit();
  ASSERT_EQ(entries.size(), static_cast<size_t>(stored) + 1);
  for (int i = 0; i < stored; ++i) EXPECT_EQ(entries[i].serviceID, "FULL|" + std::to_string(i));
  EXPECT_EQ(entries.back().serviceID, "FULL|1000");
  EXPECT_EQ(entries.back().data, entry(1000).data);
  EXPECT_EQ(entries.back().record, entry(1000).record);
}

}  // namespace
