#include "base/work_directory.h"

#include <gtest/gtest.h>

namespace stampwright {
namespace {

TEST(InDirectory, RelativeNamesAreTakenInTheDirectory) {
  EXPECT_EQ(InDirectory("/srv/line", "cam.dbr"), "/srv/line/cam.dbr");
  EXPECT_EQ(InDirectory("/srv/line/", "journal.db"), "/srv/line/journal.db");
  EXPECT_EQ(InDirectory("work", "sub/OEMPrefs.dat"), "work/sub/OEMPrefs.dat");
}

TEST(InDirectory, AbsoluteNamesStayAsTheyAre) {
  EXPECT_EQ(InDirectory("/srv/line", "/var/lib/journal.db"), "/var/lib/journal.db");
}

TEST(InDirectory, NoDirectoryMeansTheProcessesOwn) {
  EXPECT_EQ(InDirectory("", "cam.dbr"), "cam.dbr");
  EXPECT_EQ(InDirectory("/srv/line", ""), "");
}

}  // namespace
}  // namespace stampwright
