// What the service manager refuses before it touches anything, for any user.
#include "platform/ServiceManager.h"

#include <gtest/gtest.h>

using platform::Authorization;
using platform::ServiceManager;

TEST(ServiceManagerRules, WithoutTheBlessRightOrWithALabelThatIsNoPlainNameNothingIsTried) {
    std::shared_ptr<Authorization> notAsked;
    ASSERT_EQ(Authorization::create(nullptr, 0, notAsked), Authorization::Success);
    const struct {
        std::string label;
        Authorization* authorization;
        int code;
    } cases[] = {
        {"com.example.Helper", notAsked.get(), Authorization::Denied},
        {"com.example.Helper", nullptr, Authorization::Denied},
        {"", notAsked.get(), EINVAL},
        {"../etc/passwd", notAsked.get(), EINVAL}, // every other name Identifier refuses: its table
    };
    for (const auto& c : cases) {
        const auto blessed = ServiceManager::bless(c.label, "/bin/true", c.authorization);
        ASSERT_FALSE(blessed) << "'" << c.label << "'";
        EXPECT_EQ(blessed.failure().code, c.code) << "'" << c.label << "'";
        EXPECT_EQ(blessed.failure().domain, ServiceManager::kErrorDomain);
        EXPECT_FALSE(ServiceManager::copyJobDictionary(c.label)) << "'" << c.label << "'";
    }
}
