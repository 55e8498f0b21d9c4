#include "platform.h"

#include <gtest/gtest.h>

namespace kerfline::testing {
namespace {

TEST(PlatformPosix, LocaleNamesUtf8) {
    for (const char* name : {"ja_JP.UTF-8", "C.utf8", "en_US.Utf-8@euro", "x.u-t-f-8"}) {
        EXPECT_TRUE(locale_names_utf8(name)) << name;
    }
    for (const char* name : {"C", "POSIX", "ja_JP.SJIS", "ja_JP.eucJP", "UTF-8", "ja_JP@UTF-8",
                             "ja_JP.UTF-16", "x.utf88", "x.utf"}) {
        EXPECT_FALSE(locale_names_utf8(name)) << name;
    }
}

}  // namespace
}  // namespace kerfline::testing
