#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "Base/XML/XmlDOM.h"
#include "KEF/Jobs/AutoDelJobs/DeletionPolicy.h"
#include "KEF/KEFCore/BaseJobData.h"
#include "TestUtil.h"

namespace {

using KEF::AgeBy;
using KEF::DeletionPolicy;

// Reads the policy of <AutoDelete>body</AutoDelete>; the error on failure.
bool readPolicy(const std::string& body, DeletionPolicy& policy, std::string& error) {
  tvan::XmlDOM dom(("<AutoDelete>" + body + "</AutoDelete>").c_str(), false);
  KEF::BaseJobData data;
  data.initialize(&dom);
  return DeletionPolicy::read(data, policy, error);
}

std::string refusal(const std::string& body) {
  DeletionPolicy policy;
  policy.maxAgeDays = 99;
  std::string error;
  EXPECT_FALSE(readPolicy(body, policy, error)) << body;
  EXPECT_EQ(policy.maxAgeDays, 99) << "changed by a refused read: " << body;
  return error;
}

std::string policyWith(const std::string& elements) {
  return "<Policy><Root>/tmp</Root>" + elements + "</Policy>";
}

TEST(DeletionPolicy, ReadsEveryElement) {
  DeletionPolicy policy;
  std::string error;
  ASSERT_TRUE(readPolicy(
      "<Other><Root>/ignored</Root></Other><Policy><Root> /tmp/a </Root><Root>/var/cache/b</Root>"
      "<MaxAgeDays>1.5</MaxAgeDays><AgeBy>ctime</AgeBy><Include>*.dcm</Include>"
      "<Include>x/*</Include><Protect>*.keep</Protect><MinFreePercent>15</MinFreePercent>"
      "<MinAgeHours>0.5</MinAgeHours><RemoveEmptyDirs>YES</RemoveEmptyDirs><DryRun>Yes</DryRun>"
      "<IntervalSeconds>2.5</IntervalSeconds></Policy>",
      policy, error))
      << error;
  EXPECT_EQ(policy.roots, (std::vector<std::string>{"/tmp/a", "/var/cache/b"}));
  EXPECT_EQ(policy.maxAgeDays, 1.5);
  EXPECT_EQ(policy.ageBy, AgeBy::kChanged);
  EXPECT_EQ(policy.include, (std::vector<std::string>{"*.dcm", "x/*"}));
  EXPECT_EQ(policy.protect, (std::vector<std::string>{"*.keep"}));
  EXPECT_TRUE(policy.hasFreeSpaceRule());
  EXPECT_EQ(policy.minFreePercent, 15);
  EXPECT_EQ(policy.minAgeHours, 0.5);
  EXPECT_TRUE(policy.removeEmptyDirs);
  EXPECT_TRUE(policy.dryRun);
  EXPECT_EQ(policy.intervalSeconds, 2.5);

  // Only MaxAgeDays is required; booleans also read "no" in any case.
  ASSERT_TRUE(
      readPolicy(policyWith("<MaxAgeDays>0</MaxAgeDays><DryRun>nO</DryRun>"), policy, error));
  EXPECT_EQ(policy.maxAgeDays, 0);
  EXPECT_EQ(policy.ageBy, AgeBy::kModified);
  EXPECT_TRUE(policy.include.empty() && policy.protect.empty());
  EXPECT_FALSE(policy.hasFreeSpaceRule());
  EXPECT_EQ(policy.minAgeHours, 24);
  EXPECT_FALSE(policy.removeEmptyDirs);
  EXPECT_FALSE(policy.dryRun);
  EXPECT_EQ(policy.intervalSeconds, 600);
}

TEST(DeletionPolicy, RefusesMissingOrMalformedValuesNamingThem) {
  EXPECT_EQ(refusal("<Other/>"), "the job data has no Policy element");
  EXPECT_EQ(refusal("<Policy><MaxAgeDays>1</MaxAgeDays></Policy>"), "Policy has no Root");
  EXPECT_EQ(refusal(policyWith("")), "Policy has no MaxAgeDays");
  const struct {
    const char* elements;
    const char* error;
  } cases[] = {
      {"<MaxAgeDays>ten</MaxAgeDays>", "MaxAgeDays \"ten\" is not a number"},
      {"<MaxAgeDays></MaxAgeDays>", "MaxAgeDays \"\" is not a number"},
      {"<MaxAgeDays>3days</MaxAgeDays>", "MaxAgeDays \"3days\" is not a number"},
      {"<MaxAgeDays>nan</MaxAgeDays>", "MaxAgeDays \"nan\" is not a number"},
      {"<MaxAgeDays>inf</MaxAgeDays>", "MaxAgeDays \"inf\" is not a number"},
      {"<MaxAgeDays>-1</MaxAgeDays>", "MaxAgeDays \"-1\" is below 0"},
      {"<MaxAgeDays>1</MaxAgeDays><MaxAgeDays>2</MaxAgeDays>", "MaxAgeDays is given 2 times"},
      {"<MaxAgeDays>1</MaxAgeDays><AgeBy>size</AgeBy>",
       "AgeBy \"size\" is not mtime, atime or ctime"},
      {"<MaxAgeDays>1</MaxAgeDays><MinFreePercent>100.5</MinFreePercent>",
       "MinFreePercent \"100.5\" is above 100"},
      {"<MaxAgeDays>1</MaxAgeDays><MinFreePercent>-2</MinFreePercent>",
       "MinFreePercent \"-2\" is below 0"},
      {"<MaxAgeDays>1</MaxAgeDays><MinAgeHours>-0.1</MinAgeHours>",
       "MinAgeHours \"-0.1\" is below 0"},
      {"<MaxAgeDays>1</MaxAgeDays><RemoveEmptyDirs>true</RemoveEmptyDirs>",
       "RemoveEmptyDirs \"true\" is neither yes nor no"},
      {"<MaxAgeDays>1</MaxAgeDays><DryRun>1</DryRun>", "DryRun \"1\" is neither yes nor no"},
      {"<MaxAgeDays>1</MaxAgeDays><IntervalSeconds>0</IntervalSeconds>",
       "IntervalSeconds \"0\" is not above 0"},
      {"<MaxAgeDays>1</MaxAgeDays><Include> </Include>", "Include is empty"},
  };
  for (const auto& c : cases) EXPECT_EQ(refusal(policyWith(c.elements)), c.error);
}

TEST(DeletionPolicy, RefusesSystemFoldersAsWrittenAndAsResolved) {
  const struct {
    const char* root;
    const char* error;
  } refused[] = {
      {"cache", "Root \"cache\" is not an absolute path"},
      {"", "Root \"\" is not an absolute path"},
      {"/", "Root \"/\" is the whole file system"},
      {"/usr", "Root \"/usr\" is a system folder"},
      {"/usr/../etc/.", "Root \"/usr/../etc/.\" is a system folder (/etc)"},
      {"//home/", "Root \"//home/\" is a system folder (/home)"},
      {"/tmp/../..", "Root \"/tmp/../..\" is the whole file system (/)"},
      {"/proc/1/cwd", "Root \"/proc/1/cwd\" is below the system folder /proc"},
      {"/sys/kernel", "Root \"/sys/kernel\" is below the system folder /sys"},
      {"/dev/shm", "Root \"/dev/shm\" is below the system folder /dev"},
      {"/lost+found", "Root \"/lost+found\" is a system folder"},
  };
  for (const auto& r : refused) EXPECT_EQ(DeletionPolicy::refuseRoot(r.root), r.error);
  for (const char* allowed : {"/tmp", "/var/cache/app", "/srv/cache", "/home/user/scans"}) {
    EXPECT_EQ(DeletionPolicy::refuseRoot(allowed), "") << allowed;
  }

  testutil::TempDir dir("kef_policy");
  ASSERT_EQ(::symlink("/etc", dir.file("etc").c_str()), 0);
  ASSERT_EQ(::symlink("/proc/self", dir.file("self").c_str()), 0);
  ASSERT_EQ(::symlink(dir.path().c_str(), dir.file("here").c_str()), 0);
  EXPECT_EQ(DeletionPolicy::refuseRoot(dir.file("etc")),
            "Root \"" + dir.file("etc") + "\" leads to /etc, a system folder");
  EXPECT_NE(DeletionPolicy::refuseRoot(dir.file("self/fd")).find("below the system folder /proc"),
            std::string::npos);
  EXPECT_EQ(DeletionPolicy::refuseRoot(dir.file("here")), "");
  // read() refuses the same way, whichever root is at fault.
  EXPECT_EQ(refusal("<Policy><Root>/tmp</Root><Root>" + dir.file("etc") +
                    "</Root><MaxAgeDays>1</MaxAgeDays></Policy>"),
            DeletionPolicy::refuseRoot(dir.file("etc")));
}

}  // namespace
