// The program as a web server runs it: whole pages, byte for byte.
#include <gtest/gtest.h>

#include "test-support.h"

using namespace testing_support;

namespace {

const char* const Header = "Content-Type: text/html\n\n";

TEST(Driver, NoRequestTextGivesTheMissingParametersPage)
{
    TestSite site;
    RunResult result = Get(site, "");
    EXPECT_EQ(result.out, std::string(Header) + "Unable to locate any paramters!<BR>\n");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(site.TodaysLog(), "");
}

}  // namespace
