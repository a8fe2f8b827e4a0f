#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace vantor;

namespace {

TEST(Paths, DefaultDataDirectoryFollowsXdg)
{
    const char* old = std::getenv("XDG_DATA_HOME");
    std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", "/tmp/xdg-data", 1);
    EXPECT_EQ(defaultDataDirectory(), std::filesystem::path("/tmp/xdg-data/vantor"));
    setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored, as the XDG rules say
    EXPECT_NE(defaultDataDirectory(), std::filesystem::path("relative/vantor"));
    if (old)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}

}  // namespace
